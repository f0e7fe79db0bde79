// Component base classes, string lists and streams.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "framework/Sysutils.h"

namespace platform {
class BackgroundWriter;
}

class TObject {
public:
  virtual ~TObject() = default;
};

using TNotifyEvent = std::function<void(TObject* Sender)>;

class TPersistent : public TObject {};

enum TComponentStateFlag : uint32_t { csLoading = 1, csDesigning = 2, csDestroying = 4 };

// A component knows its owner; the owner holds it as a member or a std::unique_ptr, so C++
// gives the lifetimes. A destructor that raises events calls Destroying() first, so that
// handlers can tell the component is going away.
class TComponent : public TPersistent {
public:
  explicit TComponent(TComponent* AOwner) : Owner(AOwner) {}
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner;
  std::string Name;
  uint32_t ComponentState = 0;

  bool IsDestroying() const { return (ComponentState & csDestroying) != 0; }
  bool IsDesigning() const { return (ComponentState & csDesigning) != 0; }
  void Destroying() { ComponentState |= csDestroying; }
};

// Ordered list of byte strings. Indexes outside the list raise EStringListError.
class TStringList : public TPersistent {
public:
  enum TDuplicates { dupIgnore, dupAccept, dupError };

  int Count() const { return static_cast<int>(items_.size()); }
  const std::string& operator[](int index) const;
  std::string Get(int index) const { return (*this)[index]; }
  // Replaces line index; not allowed on a sorted list.
  void Put(int index, const std::string& s);
  // Appends (or, sorted, inserts in order); returns the index of the line.
  int Add(const std::string& s);
  void Insert(int index, const std::string& s);
  void Delete(int index);
  void Clear() { items_.clear(); }
  // Case-insensitive search for a whole line; -1 when absent.
  int IndexOf(const std::string& s) const;

  // Every line followed by CR LF.
  std::string Text() const;
  // Splits at CR LF, LF or CR; a final line break adds no empty line.
  void SetText(const std::string& text);

  bool Sorted() const { return sorted_; }
  void SetSorted(bool value);
  TDuplicates Duplicates = dupIgnore;

  const std::vector<std::string>& Lines() const { return items_; }

private:
  void CheckIndex(int index, bool allowEnd = false) const;
  std::vector<std::string> items_;
  bool sorted_ = false;
};

enum TSeekOrigin { soBeginning = 0, soCurrent = 1, soEnd = 2 };

class TStream : public TObject {
public:
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;

  int64_t Position() { return Seek(0, soCurrent); }
  void SetPosition(int64_t pos) { Seek(pos, soBeginning); }
  int64_t Size();
  // Raise EReadError "Stream read error" / EWriteError "Stream write error" on a short transfer.
  void ReadBuffer(void* buffer, int64_t count);
  void WriteBuffer(const void* buffer, int64_t count);
  // Copies count bytes from source (all of it from its start when count is 0).
  int64_t CopyFrom(TStream& source, int64_t count);
};

enum : uint16_t {
  fmOpenRead = 0x0000,
  fmOpenWrite = 0x0001,
  fmOpenReadWrite = 0x0002,
  fmShareDenyNone = 0x0040,
  fmCreate = 0xFF00,
};

// A file named by a Windows-style or native path (see platform/paths.h).
// fmCreate creates or truncates the file and raises EFCreateError "Cannot create file %s";
// the open modes raise EFOpenError "Cannot open file %s".
class TFileStream : public TStream {
public:
  TFileStream(const std::string& fileName, uint16_t mode);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  int64_t Read(void* buffer, int64_t count) override;
  // A short write leaves the system's reason as the thread's last error, as a failed Windows call
  // does.
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  const std::string& FileName() const { return fileName_; }
  // Writes out what is buffered (to the disk itself with toDisk) and closes the file; raises
  // EWriteError "Cannot write file %s" when any of it fails.
  void Close(bool toDisk = false);
  // From now on what is written is written out and put on the disk by a thread of its own while
  // the caller goes on, for a file that is closed with toDisk at its end: that close then has
  // little left to wait for. A failure shows as a short write some blocks later, or at the close.
  // A read or seek first lets the thread write out all it was given, and ends the writing behind.
  // With hash, that thread also computes the SHA-256 of the whole file, from its first byte.
  // onDurable is called on a thread of the writing each time the system has put the file on the
  // disk, with the file's length that is now durable: every 8 MiB, and all of it when the writing
  // behind ends (not after a failure).
  void WriteBehind(bool hash = false, std::function<void(int64_t Length)> onDurable = {});
  // Once the writing behind with hash has ended (Close, a read or seek): the file's SHA-256 as 64
  // lower-case hex digits, or nothing when any of it failed.
  const std::optional<std::string>& Sha256() const { return sha256_; }

private:
  void EndWriteBehind();

  std::string fileName_;
  std::FILE* file_ = nullptr;
  std::unique_ptr<platform::BackgroundWriter> writer_;
  bool writeBehindFailed_ = false;
  unsigned long writeBehindError_ = 0;
  std::optional<std::string> sha256_;
};

class TMemoryStream : public TStream {
public:
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void Clear() {
    data_.clear();
    pos_ = 0;
  }
  const std::string& Data() const { return data_; }
  void LoadFromString(const std::string& s) {
    data_ = s;
    pos_ = 0;
  }

private:
  std::string data_;
  int64_t pos_ = 0;
};
