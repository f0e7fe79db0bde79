#include "framework/Classes.h"

#include <algorithm>
#include <cstring>

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/winapi_base.h"

const std::string& TStringList::operator[](int index) const {
  CheckIndex(index);
  return items_[static_cast<size_t>(index)];
}

void TStringList::CheckIndex(int index, bool allowEnd) const {
  int limit = allowEnd ? Count() : Count() - 1;
  if (index < 0 || index > limit)
    throw EStringListError(Format("List index out of bounds (%d)", index));
}

void TStringList::Put(int index, const std::string& s) {
  if (sorted_) throw EStringListError("Operation not allowed on sorted list");
  CheckIndex(index);
  items_[static_cast<size_t>(index)] = s;
}

int TStringList::Add(const std::string& s) {
  if (!sorted_) {
    items_.push_back(s);
    return Count() - 1;
  }
  auto it = std::lower_bound(
      items_.begin(), items_.end(), s,
      [](const std::string& a, const std::string& b) { return AnsiCompareText(a, b) < 0; });
  if (it != items_.end() && AnsiCompareText(*it, s) == 0) {
    if (Duplicates == dupIgnore) return static_cast<int>(it - items_.begin());
    if (Duplicates == dupError) throw EStringListError("String list does not allow duplicates");
  }
  it = items_.insert(it, s);
  return static_cast<int>(it - items_.begin());
}

void TStringList::Insert(int index, const std::string& s) {
  if (sorted_) throw EStringListError("Operation not allowed on sorted list");
  CheckIndex(index, true);
  items_.insert(items_.begin() + index, s);
}

void TStringList::Delete(int index) {
  CheckIndex(index);
  items_.erase(items_.begin() + index);
}

int TStringList::IndexOf(const std::string& s) const {
  for (int i = 0; i < Count(); ++i)
    if (AnsiCompareText(items_[static_cast<size_t>(i)], s) == 0) return i;
  return -1;
}

std::string TStringList::Text() const {
  std::string out;
  for (const auto& line : items_) {
    out += line;
    out += "\r\n";
  }
  return out;
}

void TStringList::SetText(const std::string& text) {
  items_.clear();
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) {
      items_.push_back(text.substr(start));
      break;
    }
    items_.push_back(text.substr(start, end - start));
    start = end + ((text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1);
  }
  if (sorted_) {
    sorted_ = false;
    SetSorted(true);
  }
}

void TStringList::SetSorted(bool value) {
  if (value && !sorted_)
    std::stable_sort(items_.begin(), items_.end(), [](const std::string& a, const std::string& b) {
      return AnsiCompareText(a, b) < 0;
    });
  sorted_ = value;
}

int64_t TStream::Size() {
  int64_t pos = Seek(0, soCurrent);
  int64_t size = Seek(0, soEnd);
  Seek(pos, soBeginning);
  return size;
}

void TStream::ReadBuffer(void* buffer, int64_t count) {
  if (count != 0 && Read(buffer, count) != count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
  if (count != 0 && Write(buffer, count) != count) throw EWriteError("Stream write error");
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  std::vector<char> buf(65536);
  int64_t left = count;
  while (left > 0) {
    int64_t n = std::min<int64_t>(left, static_cast<int64_t>(buf.size()));
    source.ReadBuffer(buf.data(), n);
    WriteBuffer(buf.data(), n);
    left -= n;
  }
  return count;
}

TFileStream::TFileStream(const std::string& fileName, uint16_t mode) : fileName_(fileName) {
  if (mode == fmCreate) {
    file_ = platform::OpenFile(fileName, "w+b");
    if (!file_) throw EFCreateError(Format("Cannot create file %s", fileName.c_str()));
  } else {
    const char* how = (mode & 3) == fmOpenRead ? "rb" : "r+b";
    file_ = platform::OpenFile(fileName, how);
    if (!file_) throw EFOpenError(Format("Cannot open file %s", fileName.c_str()));
  }
  // Streams move whole blocks: a stdio buffer would only split each block into two system calls
  // and copy it once more.
  std::setvbuf(file_, nullptr, _IONBF, 0);
}

TFileStream::~TFileStream() {
  writer_.reset();
  if (file_) std::fclose(file_);
}

void TFileStream::Close(bool toDisk) {
  if (!file_) return;
  EndWriteBehind();
  // The first failure's reason goes with the error.
  unsigned long error = writeBehindFailed_ ? writeBehindError_ : 0;
  const bool flushed = toDisk ? platform::SyncFile(file_) : std::fflush(file_) == 0;
  if (!flushed && error == 0) error = platform::LastFileError();
  const bool closed = std::fclose(file_) == 0;
  if (!closed && error == 0) error = platform::LastFileError();
  file_ = nullptr;
  if (writeBehindFailed_ || !flushed || !closed) {
    win::SetLastError(error);
    throw EWriteError(Format("Cannot write file %s", fileName_.c_str()));
  }
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
  if (count <= 0 || !file_) return 0;
  EndWriteBehind();
  return static_cast<int64_t>(std::fread(buffer, 1, static_cast<size_t>(count), file_));
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
  if (count <= 0 || !file_) return 0;
  if (writer_) {
    if (writer_->Write(buffer, static_cast<size_t>(count))) return count;
    win::SetLastError(writer_->Error());
    return 0;
  }
  const size_t n = std::fwrite(buffer, 1, static_cast<size_t>(count), file_);
  if (n != static_cast<size_t>(count)) win::SetLastError(platform::LastFileError());
  return static_cast<int64_t>(n);
}

void TFileStream::WriteBehind(bool hash, std::function<void(int64_t Length)> onDurable) {
  if (file_ && !writer_)
    writer_ = std::make_unique<platform::BackgroundWriter>(file_, hash, std::move(onDurable));
}

void TFileStream::EndWriteBehind() {
  if (!writer_) return;
  if (!writer_->Finish() && !writeBehindFailed_) {
    writeBehindFailed_ = true;
    writeBehindError_ = writer_->Error();
  }
  sha256_ = writer_->Sha256();
  writer_.reset();
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  if (!file_) return -1;
  EndWriteBehind();
  int whence = origin == soBeginning ? SEEK_SET : origin == soCurrent ? SEEK_CUR : SEEK_END;
  if (platform::SeekFile(file_, offset, whence) != 0) return -1;
  return platform::TellFile(file_);
}

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
  if (count <= 0 || pos_ >= static_cast<int64_t>(data_.size())) return 0;
  int64_t n = std::min<int64_t>(count, static_cast<int64_t>(data_.size()) - pos_);
  std::memcpy(buffer, data_.data() + pos_, static_cast<size_t>(n));
  pos_ += n;
  return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  size_t end = static_cast<size_t>(pos_ + count);
  if (end > data_.size()) data_.resize(end);
  std::memcpy(data_.data() + pos_, buffer, static_cast<size_t>(count));
  pos_ += count;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t base = origin == soBeginning ? 0
                 : origin == soCurrent ? pos_
                                       : static_cast<int64_t>(data_.size());
  pos_ = std::max<int64_t>(0, base + offset);
  return pos_;
}
