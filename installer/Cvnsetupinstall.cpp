// TForm1's install steps, the download handlers and the shortcut maker.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <chrono>
#include <climits>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <future>
#include <system_error>
#include <vector>

#include "installer/Cvnsetupcmdline.h"
#include "installer/Cvnsetupmain.h"
#include "platform/crypto.h"
#include "platform/msgloop.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/program.h"
#include "platform/shell.h"

namespace {

int64_t FileSize(const std::string& path) {
  std::error_code ec;
  auto size = std::filesystem::file_size(platform::FilePath(path), ec);
  return ec ? -1 : static_cast<int64_t>(size);
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
  // A connection that brings nothing for this long is given up and tried again.
  NMHTTP1->IdleTimeOut = TDownloads::IdleLimitMs;
  // The server may move the downloads to https: they follow it there, never back.
  NMHTTP1->SecureSocket = true;
  downloads_ =
      std::make_unique<TDownloads>(*NMHTTP1, [this](const std::string& line) { Log(line); });
}

void TForm1::Button1Click(TObject*) {
  // The component serves one request at a time: a press during an install is ignored.
  if (installing_) return;
  installing_ = true;
  TFinally reset([this] { installing_ = false; });

  // Read once: what was ticked when Next was pressed is what this press installs.
  const bool program = view_->IsChecked(TCheckBoxId::CheckBox1);
  const bool blockchain = view_->IsChecked(TCheckBoxId::CheckBox2);
  if (!PublisherKey.empty() && (program || blockchain) && !FetchFileList()) return;
  if (program) InstallProgram();
  if (blockchain) InstallBlockchain();
  if (!program && !blockchain) Log("please make a slection.");
}

void TForm1::InstallProgram() {
  Log("install program is checked");
  if (!AppDirRefusal.empty()) {
    NoteSetupFailure(ExitWriteFailed);
    view_->ShowMessageBox(AppDirRefusal + " - the program was not installed", "Install failure");
    return;
  }
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
  GetInto(url, dest, true);
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
  GetInto(WalletUrl(), dest, true);
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
    // A wallet held by a running program was downloaded: the user has been told that already.
    if (!heldBack_) view_->ShowMessageBox("could not download wallet", "Download failure");
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
    // The window stays painted but takes no input until the archive has ended.
    // Unattended, nobody would answer the archive's own question.
    const int exitCode = platform::RunAndWait(dest, AsksUser ? std::string() : ArchiveSilentArgs);
    if (exitCode == -1) {
      const win::DWORD error = win::GetLastError();
      Log("could not start " + dest);
      if (error == ERROR_ELEVATION_REQUIRED)
        Log("the blockchain archive asks for administrator rights: start " + dest +
            " yourself with \"Run as administrator\"");
      else if (error != ERROR_SUCCESS)
        Log(ReasonLine(error));
      view_->ShowMessageBox("could not start the blockchain archive", "Blockchain failure");
      return;
    }
    if (exitCode != 0) Log("the blockchain archive ended with exit code " + IntToStr(exitCode));
    Log("Done.");
  } else {
    view_->SetProgressVisible(false);
    view_->ShowMessageBox("could not download blockchain", "Download failure");
  }
}

// A download never destroys the installed file: the body goes into a part file beside it, which
// replaces dest only once it is whole (and, with a key, matches the list). Everything the user
// sees names dest.
void TForm1::GetInto(const std::string& url, const std::string& dest, bool program) {
  const std::string name = url.substr(url.rfind('/') + 1);
  heldBack_ = false;
  const TListedFile* listed = nullptr;
  if (!PublisherKey.empty()) {
    listed = fileList_.Find(name);
    if (!listed) {
      NoteSetupFailure(ExitVerifyFailed);
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
  // The size the list gives is enforced on every try, and the hash made while the part is written.
  NMHTTP1->ExpectedSize = listed ? listed->Size : -1;
  NMHTTP1->HashBody = listed != nullptr;
  TDownloads::TResult result;
  for (int attempt = 0;; ++attempt) {
    try {
      result = downloads_->Fetch(url, dest, program);
    } catch (Exception& e) {
      NMHTTP1->Body = dest;
      if (closing_) throw EAbort();
      // The system's reason beside "Null Remote Address": no network, no such host, ...
      if (NMHTTP1->LookupErrorNo != 0)
        Log(ReasonLine(static_cast<unsigned long>(NMHTTP1->LookupErrorNo)));
      ReplaceText(e.Message, TDownloads::PartOf(dest), dest);
      throw;
    } catch (...) {
      NMHTTP1->Body = dest;
      if (closing_) throw EAbort();
      throw;
    }
    NMHTTP1->Body = dest;
    if (closing_) throw EAbort();
    if (result != TDownloads::TResult::Complete) {
      // Told by the failure event or by a refusal of its own (no program): the part failed
      // either way, also where no box follows.
      NoteSetupFailure(ExitDownloadFailed);
      DownloadOk = false;
      return;
    }
    if (!listed || MatchesFileList(name, *listed, dest)) break;
    const bool reused = downloads_->Reused();
    downloads_->Discard(dest);
    DownloadOk = false;
    // What an earlier press left may be of another version: that one is fetched anew.
    if (!reused || attempt > 0) return;
  }
  heldBack_ = program && !FreeToReplace(dest);
  if (heldBack_) {
    downloads_->KeepWhole(dest);
    DownloadOk = false;
    return;
  }
  try {
    downloads_->Install(dest);
  } catch (...) {
    DownloadOk = false;
    throw;
  }
}

bool TForm1::FetchText(const std::string& url, std::string& text) {
  DownloadOk = false;
  NMHTTP1->ExpectedSize = -1;
  NMHTTP1->HashBody = false;
  // The text is kept in memory: a reply far beyond any list is cut off and refused.
  constexpr int64_t kMaxText = 1 << 20;
  try {
    return downloads_->FetchText(url, text, kMaxText) && DownloadOk;
  } catch (...) {
    if (closing_) throw EAbort();
    throw;
  }
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
    NoteSetupFailure(ExitVerifyFailed);
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
      !std::filesystem::is_regular_file(platform::FilePath(dest)))
    return false;
  const auto digest = HashBeside(dest);
  return digest && *digest == listed.Sha256;
}

std::optional<std::string> TForm1::HashBeside(const std::string& path) {
  std::atomic<bool> stop{false};
  auto hash = std::async(std::launch::async, [&stop, path]() -> std::optional<std::string> {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(platform::OpenFile(path, "rb"),
                                                         std::fclose);
    if (!file) return std::nullopt;
    platform::Sha256Stream sha;
    std::vector<char> block(1 << 16);
    size_t n;
    while (!stop && (n = std::fread(block.data(), 1, block.size(), file.get())) > 0)
      sha.Update(block.data(), n);
    if (stop || std::ferror(file.get())) return std::nullopt;
    return sha.Finish();
  });
  while (hash.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
    platform::ProcessMessages();
    // A close ends the hashing within a block, as it ends a download.
    if (closing_) stop = true;
  }
  auto digest = hash.get();
  if (closing_) throw EAbort();
  return digest;
}

bool TForm1::MatchesFileList(const std::string& name, const TListedFile& listed,
                             const std::string& dest) {
  // The hash the download made on the way; a part an earlier press left whole is read once.
  std::string hash = NMHTTP1->BodySha256;
  if (downloads_->Reused()) hash = HashBeside(TDownloads::PartOf(dest)).value_or("");
  if (hash == listed.Sha256) return true;
  NoteSetupFailure(ExitVerifyFailed);
  Log("could not verify " + name + " - the download was discarded");
  return false;
}

bool TForm1::FreeToReplace(const std::string& dest) {
  if (!platform::FileInUse(dest)) return true;
  std::string holders;
  for (const std::string& name : platform::ProgramsUsing(dest))
    holders += (holders.empty() ? "" : ", ") + name;
  if (holders.empty()) holders = "another program";
  Log(dest + " is in use by " + holders);
  if (CloseApplications) {
    Log("closing " + holders);
    if (platform::CloseProgramsUsing(dest)) return true;
  } else if (AsksUser) {
    view_->ShowMessageBox(dest + " is in use by " + holders +
                              ".\n\nClose it, then click OK to try again.",
                          "Program in use");
    if (!platform::FileInUse(dest)) return true;
  }
  NoteSetupFailure(ExitWalletRunning);
  Log(dest + " was not replaced; the next try installs the download without fetching it again");
  return false;
}

void TForm1::WindowClosing() {
  if (!installing_) return;
  closing_ = true;
  downloads_->Stop();
}

void TForm1::NMHTTP1Success(CmdType) {
  DownloadOk = true;
}

void TForm1::NMHTTP1Failure(CmdType Cmd) {
  NoteSetupFailure(ExitDownloadFailed);
  DownloadOk = false;
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
  char buffer[platform::ShellPathBytes];
  const bool ok = win::SHGetPathFromIDListA(pidl, buffer) != 0;
  if (ok) path = buffer;
  malloc->Free(pidl);
  malloc->Release();
  return ok;
}

namespace {

// S_OK, or what failed: a failed save is often Controlled Folder Access guarding the Desktop.
win::HRESULT SaveShellLink(const std::string& target, const std::string& description,
                           const std::basic_string<win::OLECHAR>& fileName) {
  win::HRESULT hr = win::CoInitialize(nullptr);
  if (FAILED(hr)) return hr;
  win::IShellLinkA* link = nullptr;
  hr = win::CoCreateInstance(win::CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                             win::IID_IShellLinkA, reinterpret_cast<void**>(&link));
  if (SUCCEEDED(hr)) {
    link->SetPath(target.c_str());
    link->SetDescription(description.c_str());
    link->SetShowCmd(SW_SHOW);
    win::IPersistFile* file = nullptr;
    hr = link->QueryInterface(win::IID_IPersistFile, reinterpret_cast<void**>(&file));
    if (SUCCEEDED(hr)) {
      hr = file->Save(fileName.c_str(), TRUE);
      file->Release();
    }
    link->Release();
  }
  win::CoUninitialize();
  return hr;
}

} // namespace

// A shortcut that cannot be made is logged with its reason; the install goes on without it.
void TForm1::MakeDesktopShortcut(const std::string& target) {
  std::string desktop;
  if (!SpecialFolder(CSIDL_DESKTOPDIRECTORY, desktop)) {
    Log("could not make the desktop shortcut - the system names no Desktop folder");
    return;
  }
  SaveShortcut(target, desktop, "/");
}

void TForm1::MakeStartMenuShortcut(const std::string& target) {
  std::string programs;
  if (!SpecialFolder(CSIDL_PROGRAMS, programs)) {
    Log("could not make the start-menu shortcut - the system names no Programs folder");
    return;
  }
  const std::string folder = programs + "\\" + IniPath;
  win::CreateDirectoryA(folder.c_str(), nullptr);
  SaveShortcut(target, folder, "\\");
}

void TForm1::SaveShortcut(const std::string& target, const std::string& folder,
                          const std::string& separator) {
  const win::HRESULT hr =
      SaveShellLink(target, Ticker + " QT Wallet",
                    platform::AnsiToOle(folder) +
                        platform::AnsiToOle(separator + IniPath + ".lnk"));
  if (FAILED(hr))
    Log("could not make the shortcut " + folder + "\\" + IniPath + ".lnk - " +
        ReasonLine(static_cast<unsigned long>(hr)));
}
