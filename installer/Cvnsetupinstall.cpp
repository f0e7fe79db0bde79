// TForm1's install steps, the download handlers and the shortcut maker.
#include <algorithm>
#include <chrono>
#include <climits>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <future>
#include <system_error>

#include "installer/Cvnsetupmain.h"
#include "platform/crypto.h"
#include "platform/msgloop.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/shell.h"

namespace {

// Removes the temporary file whatever happens to the download it belongs to.
void RemoveQuietly(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove(platform::NativePath(path), ec);
}

int64_t FileSize(const std::string& path) {
  std::error_code ec;
  auto size = std::filesystem::file_size(platform::NativePath(path), ec);
  return ec ? 0 : static_cast<int64_t>(size);
}

// The total size of the download a partial file belongs to, kept beside it (0 when unknown), and
// on the next line what identified the server's version of it (see TNMHTTP::Validator).
std::string TotalFile(const std::string& temp) {
  return temp + ".total";
}
int64_t ReadTotal(const std::string& temp, std::string& validator) {
  std::ifstream in(platform::NativePath(TotalFile(temp)));
  long long total = 0;
  if (!(in >> total) || total <= 0) return 0;
  in >> std::ws;
  std::getline(in, validator);
  if (!validator.empty() && validator.back() == '\r') validator.pop_back();
  return total;
}
void WriteTotal(const std::string& temp, int64_t total, const std::string& validator) {
  std::ofstream(platform::NativePath(TotalFile(temp)), std::ios::trunc)
      << total << "\n"
      << validator << "\n";
}

void ReplaceText(std::string& text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

} // namespace

void TForm1::CreateNMHTTP1() {
  NMHTTP1 = std::make_unique<TNMHTTP>(this);
  NMHTTP1->Name = "NMHTTP1";
  // The form's stored property values.
  NMHTTP1->Port = 0;
  NMHTTP1->ReportLevel = 0;
  NMHTTP1->Body = "Default.htm";
  NMHTTP1->Header = "Head.txt";
  NMHTTP1->InputFileMode = false;
  NMHTTP1->OutputFileMode = false;
  NMHTTP1->ProxyPort = 0;
  NMHTTP1->OnSuccess = [this](CmdType Cmd) { NMHTTP1Success(Cmd); };
  NMHTTP1->OnFailure = [this](CmdType Cmd) { NMHTTP1Failure(Cmd); };
  NMHTTP1->OnPacketRecvd = [this](TObject* Sender) { NMHTTP1PacketRecvd2(Sender); };
  // Every downloaded file is made durable before it replaces one: written out behind the
  // download while it arrives, a big archive does not hold the window at its end.
  NMHTTP1->WriteBodyBehind = true;
}

void TForm1::Button1Click(TObject*) {
  // The component serves one request at a time: a press during an install is ignored.
  if (installing_) return;
  installing_ = true;
  TFinally reset([this] { installing_ = false; });

  if (!PublisherKey.empty() &&
      (view_->IsChecked(TCheckBoxId::CheckBox1) || view_->IsChecked(TCheckBoxId::CheckBox2)) &&
      !FetchFileList())
    return;
  if (view_->IsChecked(TCheckBoxId::CheckBox1)) InstallProgram();
  if (view_->IsChecked(TCheckBoxId::CheckBox2)) InstallBlockchain();
  if (!view_->IsChecked(TCheckBoxId::CheckBox1) && !view_->IsChecked(TCheckBoxId::CheckBox2))
    Log("please make a slection.");
}

void TForm1::InstallProgram() {
  Log("install program is checked");
  DownloadLauncher();
  DownloadWallet();
}

void TForm1::DownloadLauncher() {
  Log("Downloading Launcher");
  view_->SetProgressVisible(true);
  DownloadOk = false;
  const std::string dest = LauncherDest();
  NMHTTP1->InputFileMode = true;
  NMHTTP1->Body = dest;
  const std::string url = LauncherUrl();
  Log("Downloading : " + url);
  GetInto(url, dest);
  if (DownloadOk) {
    Log("Making Shortcut to your Desktop");
    MakeDesktopShortcut(dest);
    Log("Making Shortcut to your Start menu");
    MakeStartMenuShortcut(dest);
  }
}

void TForm1::DownloadWallet() {
  Log("Downloading " + Ticker + " Wallet");
  view_->SetProgressVisible(true);
  const std::string dest = WalletDest();
  NMHTTP1->InputFileMode = true;
  NMHTTP1->Body = dest;
  Log("app download is " + dest);
  DownloadOk = false;
  GetInto(WalletUrl(), dest);
  if (DownloadOk) {
    const std::string versionFile = VersionFile();
    NMHTTP1->Body = versionFile;
    Log("Downloading : version.txt");
    Log("getting version info file " + VersionUrl());
    GetInto(VersionUrl(), versionFile);
    Log("Done.");
    view_->SetProgressVisible(false);
  } else {
    view_->SetProgressVisible(false);
    view_->ShowMessageBox("could not download wallet", "Download failure");
  }
}

void TForm1::InstallBlockchain() {
  Log("install blockchain is checked");
  DownloadBlockchain();
}

void TForm1::DownloadBlockchain() {
  Log("Downloading Blockchain");
  view_->SetProgressVisible(true);
  const std::string dest = ArchiveDest();
  NMHTTP1->InputFileMode = true;
  NMHTTP1->Body = dest;
  Log("please note that this will take a while ...");
  Log("once downloaded, click ok to accept the default location.");
  DownloadOk = false;
  const std::string url = ArchiveUrl();
  Log("trying " + url);
  GetInto(url, dest, true);
  if (DownloadOk) {
    view_->SetProgressVisible(false);
    Log("unzipping blockchain - this will take a while...");
    // Blocks the window until the archive has ended; its exit code and a failure to start pass
    // unnoticed.
    platform::RunAndWait(dest);
    Log("Done.");
  } else {
    view_->SetProgressVisible(false);
    view_->ShowMessageBox("could not download blockchain", "Download failure");
  }
}

// A download never destroys the installed file: the body goes into a temporary sibling, which
// replaces dest only once the success event has come. Everything the user sees names dest.
void TForm1::GetInto(const std::string& url, const std::string& dest, bool resumable) {
  const std::string temp = dest + ".part";
  const std::string name = url.substr(url.rfind('/') + 1);
  const TListedFile* listed = nullptr;
  if (!PublisherKey.empty()) {
    listed = fileList_.Find(name);
    if (!listed) {
      Log("could not verify " + name + " - the download was discarded");
      DownloadOk = false;
      return;
    }
    if (IsUpToDate(dest, *listed)) {
      Log(name + " is up to date");
      DownloadOk = true;
      return;
    }
  }
  NMHTTP1->ExpectedSize = listed ? listed->Size : -1;
  NMHTTP1->HashBody = listed != nullptr;
  NMHTTP1->ResumeFrom = 0;
  NMHTTP1->ResumeTotal = 0;
  NMHTTP1->ResumeValidator.clear();
  if (resumable) {
    std::string validator;
    const int64_t have = FileSize(temp), total = ReadTotal(temp, validator);
    // A part of another size than the listed one belongs to another release.
    if (have > 0 && have < total && (!listed || total == listed->Size)) {
      NMHTTP1->ResumeFrom = have;
      NMHTTP1->ResumeTotal = total;
      NMHTTP1->ResumeValidator = validator;
      Log("resuming download from byte " + IntToStr(have));
    } else {
      SettlePartial(temp, false);
    }
  }
  NMHTTP1->Body = temp;
  received_ = false;
  auto failed = [&] {
    NMHTTP1->Body = dest;
    SettlePartial(temp, resumable);
    if (closing_) throw EAbort();
  };
  try {
    NMHTTP1->Get(url);
  } catch (Exception& e) {
    failed();
    ReplaceText(e.Message, temp, dest);
    throw;
  } catch (...) {
    // Not one of ours (out of memory, say): the partial file goes all the same.
    failed();
    throw;
  }
  const bool resumeRefused =
      NMHTTP1->ResumeFrom > 0 &&
      (NMHTTP1->CapturedStatus == 416 || (NMHTTP1->CapturedStatus == 206 && !NMHTTP1->Resumed));
  if (closing_ || !received_) failed();
  if (!received_) {
    if (resumeRefused) {
      Log("cannot resume - starting over");
      GetInto(url, dest, resumable);
    }
    return;
  }
  NMHTTP1->Body = dest;
  if (listed && NMHTTP1->BodySha256 != listed->Sha256) {
    Log("could not verify " + name + " - the download was discarded");
    SettlePartial(temp, false);
    DownloadOk = false;
    return;
  }
  try {
    // On the disk before it replaces anything: a power cut must not leave a short file behind.
    TFileStream(temp, fmOpenReadWrite).Close(true);
  } catch (Exception&) {
    SettlePartial(temp, false);
    DownloadOk = false;
    throw EWriteError(Format("Cannot write file %s", dest.c_str()));
  }
  RemoveQuietly(TotalFile(temp));
  std::error_code ec;
  std::filesystem::rename(platform::NativePath(temp), platform::NativePath(dest), ec);
  if (ec) {
    // The old file stays (on Windows, for example, while the wallet runs).
    RemoveQuietly(temp);
    DownloadOk = false;
    throw EFCreateError(Format("Cannot create file %s", dest.c_str()));
  }
}

void TForm1::SettlePartial(const std::string& temp, bool resumable) {
  if (resumable) {
    const TNMHTTP& http = *NMHTTP1;
    // Untouched by this attempt, or a prefix of a body of known size.
    if (http.CapturedStatus == 0 && http.ResumeFrom > 0) return;
    if (http.Resumed) return;
    if (http.CapturedStatus == 200 && http.BytesTotal > 0 && FileSize(temp) > 0) {
      WriteTotal(temp, http.BytesTotal, http.Validator);
      return;
    }
  }
  RemoveQuietly(temp);
  RemoveQuietly(TotalFile(temp));
}

bool TForm1::FetchText(const std::string& url, std::string& text) {
  NMHTTP1->InputFileMode = false;
  NMHTTP1->ResumeFrom = 0;
  NMHTTP1->ExpectedSize = -1;
  NMHTTP1->HashBody = false;
  DownloadOk = false;
  // The text is kept in memory: a reply far beyond any list is cut off and refused.
  constexpr int64_t kMaxText = 1 << 20;
  bool tooLong = false;
  auto progress = NMHTTP1->OnPacketRecvd;
  NMHTTP1->OnPacketRecvd = [&](TObject* Sender) {
    if (progress) progress(Sender);
    if (NMHTTP1->BytesRecvd > kMaxText && !tooLong) {
      tooLong = true;
      NMHTTP1->Abort();
    }
  };
  struct Restore {
    TNMHTTP& http;
    TNotifyEvent event;
    ~Restore() { http.OnPacketRecvd = event; }
  } restore{*NMHTTP1, progress};
  try {
    NMHTTP1->Get(url);
  } catch (EAbortError&) {
    if (closing_) throw EAbort();
    if (tooLong) return false;
    throw;
  } catch (...) {
    if (closing_) throw EAbort();
    throw;
  }
  if (closing_) throw EAbort();
  text = NMHTTP1->Body;
  return DownloadOk;
}

bool TForm1::FetchFileList() {
  const std::string url = DownloadUrl + "SHA256SUMS";
  Log("getting signed file list " + url);
  std::string list, signature;
  const bool fetched = FetchText(url, list) && FetchText(url + ".sig", signature);
  DownloadOk = false;
  const std::string keptAt = KeptSerialFile();
  const int64_t lowest = std::max(LowestListSerial, ReadKeptSerial(keptAt));
  TSignedList::TVerdict verdict = TSignedList::slUnverified;
  if (fetched)
    verdict = fileList_.Check(list, signature, PublisherKey,
                              static_cast<int64_t>(std::time(nullptr)), lowest);
  if (verdict == TSignedList::slOlder) Log("the file list is older than the installed release");
  if (verdict == TSignedList::slExpired) Log("the file list has expired");
  if (verdict != TSignedList::slAccepted) {
    Log("could not verify the file list - nothing was installed");
    view_->ShowMessageBox("could not verify the list of downloads", "Verification failure");
    return false;
  }
  // A record that cannot be written refuses nothing: the build's own serial still bounds the next
  // run.
  if (fileList_.Serial > lowest) KeepSerial(keptAt, fileList_.Serial);
  Log("file list verified");
  return true;
}

std::string TForm1::KeptSerialFile() const {
  // A folder no download goes into: nothing the server sends can lower the record.
  return DataPath + "\\" + IniPath + " Setup\\list-serial.txt";
}

bool TForm1::IsUpToDate(const std::string& dest, const TListedFile& listed) {
  if (FileSize(dest) != listed.Size ||
      !std::filesystem::is_regular_file(platform::NativePath(dest)))
    return false;
  // Hashed beside the window, which stays live for a big file.
  auto hash = std::async(std::launch::async, [dest] { return platform::FileSha256(dest); });
  while (hash.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready)
    platform::ProcessMessages();
  const auto digest = hash.get();
  if (closing_) throw EAbort();
  return digest && *digest == listed.Sha256;
}

void TForm1::WindowClosing() {
  if (!installing_) return;
  closing_ = true;
  NMHTTP1->Abort();
}

void TForm1::NMHTTP1Success(CmdType) {
  DownloadOk = true;
  received_ = true;
}

void TForm1::NMHTTP1Failure(CmdType Cmd) {
  DownloadOk = false;
  received_ = false;
  switch (Cmd) {
  case CmdGet:
    Log("HTTP GET Failed");
    break;
  case CmdOptions:
    Log("HTTP OPTIONS Failed");
    break;
  case CmdHead:
    Log("HTTP HEAD Failed");
    break;
  case CmdPost:
    Log("HTTP Post Failed");
    break;
  case CmdPut:
    Log("HTTP PUT Failed");
    break;
  case CmdDelete:
    Log("HTTP Delete Failed");
    break;
  case CmdTrace:
    Log("HTTP TRACE Failed");
    break;
  default:
    break;
  }
}

void TForm1::NMHTTP1PacketRecvd2(TObject*) {
  // The bar counts in 32 bits: bigger files move it in steps of 2^shift bytes.
  int64_t total = NMHTTP1->BytesTotal;
  int64_t received = NMHTTP1->BytesRecvd;
  int shift = 0;
  while ((std::max(total, received) >> shift) > INT32_MAX)
    ++shift;
  view_->SetProgressMax(static_cast<int>(total >> shift));
  view_->SetProgressPosition(static_cast<int>(received >> shift));
}

namespace {

// The folder's path from the shell, or false. The item-id list goes back to the shell's
// allocator on every path.
bool SpecialFolder(int csidl, std::string& path) {
  win::IMalloc* malloc = nullptr;
  if (FAILED(win::SHGetMalloc(&malloc))) return false;
  win::LPITEMIDLIST pidl = nullptr;
  if (FAILED(win::SHGetSpecialFolderLocation(nullptr, csidl, &pidl))) {
    malloc->Release();
    return false;
  }
  char buffer[MAX_PATH];
  const bool ok = win::SHGetPathFromIDListA(pidl, buffer) != 0;
  if (ok) path = buffer;
  malloc->Free(pidl);
  malloc->Release();
  return ok;
}

void SaveShellLink(const std::string& target, const std::string& description,
                   const std::basic_string<win::OLECHAR>& fileName) {
  if (FAILED(win::CoInitialize(nullptr))) return;
  win::IShellLinkA* link = nullptr;
  if (SUCCEEDED(win::CoCreateInstance(win::CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                      win::IID_IShellLinkA, reinterpret_cast<void**>(&link)))) {
    link->SetPath(target.c_str());
    link->SetDescription(description.c_str());
    link->SetShowCmd(SW_SHOW);
    win::IPersistFile* file = nullptr;
    if (SUCCEEDED(link->QueryInterface(win::IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
      file->Save(fileName.c_str(), TRUE);
      file->Release();
    }
    link->Release();
  }
  win::CoUninitialize();
}

} // namespace

void TForm1::MakeDesktopShortcut(const std::string& target) {
  std::string desktop;
  if (!SpecialFolder(CSIDL_DESKTOPDIRECTORY, desktop)) return;
  SaveShellLink(target, Ticker + " QT Wallet",
                platform::AnsiToOle(desktop) + platform::AnsiToOle("/" + IniPath + ".lnk"));
}

void TForm1::MakeStartMenuShortcut(const std::string& target) {
  std::string programs;
  if (!SpecialFolder(CSIDL_PROGRAMS, programs)) return;
  const std::string folder = programs + "\\" + IniPath;
  win::CreateDirectoryA(folder.c_str(), nullptr);
  SaveShellLink(target, Ticker + " QT Wallet",
                platform::AnsiToOle(folder) + platform::AnsiToOle("\\" + IniPath + ".lnk"));
}
