// TForm1: settings, start-up, install steps and handlers.
#include "installer/Cvnsetupmain.h"

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/win32.h"
#include "publisher_key.h"

std::string Ticker = "cvn";
std::string IniPath = "Corvane";
std::string DownloadUrl = CORVANE_DOWNLOAD_URL;
std::string WalletExe = "corvane-qt.exe";
std::string AppDir = "C:\\" + IniPath + "\\";
std::string PublisherKey = kPublisherKeyPem;
int64_t LowestListSerial = CORVANE_LOWEST_SERIAL;
std::string ArchiveSilentArgs = CORVANE_ARCHIVE_SILENT_ARGS;

std::string DataPath;
std::string FoundText;
bool ChainDirFound = false;
bool AppDirFound = false;
std::string AppDirRefusal;
bool DownloadOk = false;

TForm1* Form1 = nullptr;

std::string ReasonLine(unsigned long error) {
  // An HRESULT reads as Windows shows it, in hex.
  const std::string code = error > 0xFFFF ? Format("0x%08lX", error) : std::to_string(error);
  return "reason: " + platform::SystemErrorText(error) + " (error " + code + ")";
}

std::string LauncherExe() {
  return Ticker + "loader.exe";
}
std::string LauncherDest() {
  return AppDir + Ticker + "loader.exe";
}
std::string LauncherUrl() {
  return DownloadUrl + Ticker + "loader.exe";
}
std::string WalletDest() {
  return AppDir + WalletExe;
}
std::string WalletUrl() {
  return DownloadUrl + WalletExe;
}
std::string VersionFile() {
  return DataPath + "/" + IniPath + "/" + "version.txt";
}
std::string VersionUrl() {
  return DownloadUrl + "/version.txt";
}
std::string ChainExe() {
  return Ticker + "chain.exe";
}
std::string ArchiveDest() {
  return DataPath + "\\" + Ticker + "chain.exe";
}
std::string ArchiveUrl() {
  return DownloadUrl + Ticker + "chain.exe";
}
std::string ChainDir() {
  return DataPath + "\\" + IniPath + "\\";
}

TForm1::TForm1(TComponent* AOwner) : TForm(AOwner), view_(CreateInstallerView()) {
  view_->OnButton1Click = [this] { Button1Click(this); };
  view_->OnClosed = [this] {
    WindowClosing();
    Closed();
  };
  CreateNMHTTP1();
  StartUp();
}

TForm1::~TForm1() {
  Destroying();
  view_->OnButton1Click = nullptr;
  view_->OnClosed = nullptr;
}

void TForm1::Show() {
  view_->Show();
}

void TForm1::StartUp() {
  view_->ClearLog();
  Log("ticker is " + Ticker);
  Log("inipath is " + IniPath);
  view_->SetWindowCaption(IniPath + " Installer - Updater");
  DataPath = GetEnvVariable("APPDATA");
  Log("datapath is " + DataPath);
  const std::string chainDir = ChainDir();
  if (IniPath == "Path") {
    Log("ini file missing 'Path' - please update the ini file");
    return;
  }
  EnsureDirectory(chainDir, "AppData\\" + IniPath + "\\ chain directory found is: ", ChainDirFound,
                  false);
  // The wallet program runs from here: other users of the machine must not be able to change it.
  EnsureDirectory(AppDir, AppDir + " app directory found is: ", AppDirFound, true);
  AppDirRefusal.clear();
  if (AppDirFound) CheckProgramDirectory();
  if (ChainDirFound) Log("configured to update the app");
  if (AppDirFound) Log("configured to install the blockchain");
}

void TForm1::EnsureDirectory(const std::string& dir, const std::string& foundLine, bool& found,
                             bool ownerOnly) {
  found = ProbePath(dir);
  FoundText = found ? "true" : "false";
  Log(foundLine + FoundText);
  if (found) return;
  Log("I will now create it.");
  const bool made = ownerOnly ? platform::CreateProgramDirectory(dir)
                              : win::CreateDirectoryA(dir.c_str(), nullptr) != 0;
  if (!made) {
    const win::DWORD error = win::GetLastError();
    Log("Cannot create " + dir);
    Log(ReasonLine(error));
    throw Exception("Cannot create " + dir);
  }
}

void TForm1::CheckProgramDirectory() {
  // Made by an older version (with the access C:\ passes on) or in advance by someone else: it
  // gets the access of a new one, or nothing goes into it.
  switch (platform::SecureProgramDirectory(AppDir)) {
  case platform::ProgramDirectoryState::Secured:
    return;
  case platform::ProgramDirectoryState::Link:
    AppDirRefusal = AppDir + " is a link or junction";
    break;
  case platform::ProgramDirectoryState::OtherOwner:
    AppDirRefusal = AppDir + " belongs to another user";
    break;
  case platform::ProgramDirectoryState::Failed:
    AppDirRefusal = "the access to " + AppDir + " cannot be limited to you";
    break;
  }
  Log(AppDirRefusal + " - nothing will be installed into it");
}

bool TForm1::ProbePath(const std::string& path) {
  Log("looking for file " + path);
  const win::DWORD attrs = win::GetFileAttributesA(path.c_str());
  Log("attribs= " + std::to_string(attrs));
  return attrs != INVALID_FILE_ATTRIBUTES;
}
