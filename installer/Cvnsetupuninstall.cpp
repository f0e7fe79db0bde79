#include "installer/Cvnsetupuninstall.h"

#include <filesystem>
#include <system_error>
#include <vector>

#include "downloads/Download.h"
#include "framework/Forms.h"
#include "installer/Cvnsetupentry.h"
#include "installer/Cvnsetupmain.h"
#include "platform/paths.h"
#include "platform/program.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "platform/win32.h"

namespace {

bool Exists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(platform::FilePath(path), ec);
}

// A folder goes only when it is empty: what the user put there stays.
bool RemoveEmptyFolder(const std::string& path) {
  std::error_code ec;
  const auto native = platform::FilePath(path);
  if (!std::filesystem::is_empty(native, ec) || ec) return false;
  return std::filesystem::remove(native, ec);
}

} // namespace

TSetupExit Uninstall(bool quiet, const std::function<void(const std::string&)>& log) {
  const std::string caption = Application->Title;
  std::string desktop, programs;
  std::vector<std::string> files = {LauncherDest(), WalletDest()};
  if (SpecialFolder(CSIDL_DESKTOPDIRECTORY, desktop))
    files.push_back(desktop + "\\" + IniPath + ".lnk");
  std::string menuFolder;
  if (SpecialFolder(CSIDL_PROGRAMS, programs)) {
    menuFolder = programs + "\\" + IniPath;
    files.push_back(menuFolder + "\\" + IniPath + ".lnk");
  }

  if (!quiet && win::MessageBoxA(nullptr,
                                 ("Remove the " + IniPath +
                                  " wallet program and its shortcuts?\n\nYour wallet's data "
                                  "folder and the blockchain are kept.")
                                     .c_str(),
                                 caption.c_str(), MB_YESNO | MB_ICONQUESTION) != IDYES) {
    log("nothing was removed");
    return ExitCancelled;
  }
  for (const std::string& program : {LauncherDest(), WalletDest()}) {
    if (!platform::FileInUse(program)) continue;
    log(program + " is in use");
    win::MessageBoxA(nullptr,
                     ("The " + IniPath +
                      " wallet is running. Close it, then uninstall again; nothing was removed.")
                         .c_str(),
                     caption.c_str(), MB_OK | MB_ICONERROR);
    return ExitWalletRunning;
  }

  std::vector<std::string> kept;
  auto note = [&](const std::string& path, bool removed) {
    if (removed) {
      log("removed " + path);
    } else {
      log("could not remove " + path);
      kept.push_back(path);
    }
  };
  // What a cut or kept download, or a cut copy, left in the program folder is the installer's
  // own: the part and what is recorded beside it (.part.total, .part.total.new).
  for (const std::string& program : {LauncherDest(), WalletDest(), UninstallerDest()})
    for (const char* end : {"", ".total", ".total.new"})
      files.push_back(TDownloads::PartOf(program) + end);
  for (const std::string& file : files) {
    if (!Exists(file)) continue;
    std::error_code ec;
    note(file, std::filesystem::remove(platform::FilePath(file), ec));
  }
  // What the user put into the start-menu folder stays, and keeps the folder, as in AppDir.
  if (!menuFolder.empty() && Exists(menuFolder) && !RemoveEmptyFolder(menuFolder)) {
    std::error_code ec;
    if (std::filesystem::is_empty(platform::FilePath(menuFolder), ec) || ec)
      note(menuFolder, false);
    else
      log("kept " + menuFolder + ": it holds other files");
  }
  // The way back goes last, and only when nothing else is left: the entry and the uninstaller
  // it names are what the uninstall is tried again from.
  if (kept.empty()) note("the Apps & features entry", platform::DeleteUserKey(UninstallKey()));
  if (kept.empty() && Exists(UninstallerDest()))
    note(UninstallerDest(), platform::RemoveProgramFile(UninstallerDest()));
  if (kept.empty() && Exists(AppDir) && !RemoveEmptyFolder(AppDir))
    log("kept " + AppDir + ": it holds other files");
  if (!kept.empty()) {
    std::string text = "These could not be removed:";
    for (const std::string& path : kept)
      text += "\n" + path;
    if (Exists(UninstallerDest()))
      text += "\n\nThe uninstaller and the Apps & features entry were kept: uninstall again "
              "once these can be removed.";
    win::MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_ICONERROR);
    return ExitWriteFailed;
  }
  win::MessageBoxA(nullptr, (IniPath + " was removed from your computer.").c_str(), caption.c_str(),
                   MB_OK | MB_ICONINFORMATION);
  return ExitOk;
}
