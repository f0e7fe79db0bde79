// A TForm1 on a recording view, downloading from a scripted loopback server onto a clean drive C:
// with an APPDATA folder of its own.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "installer/Cvnsetupmain.h"
#include "platform/paths.h"
#include "platform/shell.h"
#include "support/loopback_peer.h"
#include "support/recording_view.h"
#include "support/testenv.h"

namespace installtest {

using testsupport::PeerScript;

inline PeerScript Reply(const std::string& head, const std::string& body) {
  return testsupport::Answer(head + "\r\n\r\n" + body);
}
inline PeerScript Ok(const std::string& body) {
  return Reply("HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()), body);
}
// Where the shell keeps one of the user's folders, as a native path. Throws when the shell cannot
// say: the fixture removes links under it and must never guess a folder.
inline std::string ShellFolder(int csidl) {
  win::LPITEMIDLIST pidl = nullptr;
  if (FAILED(win::SHGetSpecialFolderLocation(nullptr, csidl, &pidl)))
    throw std::runtime_error("no shell folder " + std::to_string(csidl));
  char buffer[platform::ShellPathBytes];
  const bool ok = win::SHGetPathFromIDListA(pidl, buffer) != 0;
  win::IMalloc* malloc = nullptr;
  if (SUCCEEDED(win::SHGetMalloc(&malloc))) {
    malloc->Free(pidl);
    malloc->Release();
  }
  if (!ok || !*buffer)
    throw std::runtime_error("no path for shell folder " + std::to_string(csidl));
  return platform::NativePath(buffer);
}

inline PeerScript NotFound() {
  return Reply("HTTP/1.0 404 Not Found\r\nContent-Length: 9", "not found");
}

class InstallSteps : public ::testing::Test {
protected:
  testenv::TempDir dir;
  testenv::ScopedDriveC drive{{"Corvane", "appdata"}};
  // APPDATA as Windows sets it: a path on C:.
  testenv::ScopedEnv appdataEnv{"APPDATA", "C:\\appdata"};
  testview::ScopedRecordingViews views;
  testview::ScopedMessageBoxRecorder errorBoxes;
  std::string savedUrl = DownloadUrl;
  // These steps are those of a build without a publisher key unless a test sets one.
  std::string savedKey = std::exchange(PublisherKey, "");
  int64_t savedLowest = std::exchange(LowestListSerial, 0);
  std::unique_ptr<testsupport::LoopbackPeer> peer;
  std::unique_ptr<TForm1> form;
  size_t startupLines = 0;

  const std::string appDir = drive.path() + "/Corvane";
  const std::string appData = drive.path() + "/appdata";
  const std::string desktop = ShellFolder(CSIDL_DESKTOPDIRECTORY);
  const std::string startMenu = ShellFolder(CSIDL_PROGRAMS) + "/Corvane";
  const std::string desktopLink = desktop + "/Corvane.lnk";
  const std::string startMenuLink = startMenu + "/Corvane.lnk";

  std::string savedTitle = Application->Title;

  InstallSteps() {
    RemoveLinks();
    std::filesystem::create_directories(appData);
    Application->Title = "Corvane Setup";
  }
  ~InstallSteps() override {
    form.reset();
    RemoveLinks();
    DownloadUrl = savedUrl;
    PublisherKey = savedKey;
    LowestListSerial = savedLowest;
    Application->Title = savedTitle;
  }

  // The profile folders outlive the test on Windows: no link from an earlier test may count.
  void RemoveLinks() {
    std::error_code ec;
    std::filesystem::remove(desktopLink, ec);
    std::filesystem::remove_all(startMenu, ec);
  }

  // The pauses before retries, in milliseconds, as the downloads asked for them: the tests' clock
  // ends each at once.
  std::vector<int64_t> pauses;
  // The form's own pause, a wait on the message loop.
  std::function<bool(int64_t)> realPause;

  // The server answers connection i with scripts[i]; the form starts up against it.
  void Start(std::vector<PeerScript> scripts) {
    peer = std::make_unique<testsupport::LoopbackPeer>(std::move(scripts));
    DownloadUrl = peer->Url("/downloads/");
    form = std::make_unique<TForm1>(nullptr);
    pauses.clear();
    realPause = form->Downloads().Pause;
    form->Downloads().Pause = [this](int64_t ms) {
      pauses.push_back(ms);
      return true;
    };
    startupLines = view().LogLines().size();
  }

  testview::RecordingView& view() { return views.Last(); }

  void Press(bool program, bool blockchain) {
    view().checkBox1 = program;
    view().checkBox2 = blockchain;
    view().ClickButton1();
  }

  // The log lines written since the start-up.
  std::vector<std::string> Log() {
    auto lines = view().LogLines();
    return {lines.begin() + static_cast<long>(startupLines), lines.end()};
  }

  std::string RequestLine(size_t connection) {
    std::string received = peer->Received(connection);
    return received.substr(0, received.find("\r\n"));
  }

  // Files whose name ends in ".part" anywhere under the folders the installer writes to, with
  // forward slashes on every system.
  std::vector<std::string> Leftovers() {
    std::vector<std::string> found;
    for (const std::string& root : {appDir, appData}) {
      if (!std::filesystem::is_directory(root)) continue;
      for (const auto& e : std::filesystem::recursive_directory_iterator(root))
        if (e.path().extension() == ".part") found.push_back(e.path().generic_string());
    }
    return found;
  }

  std::vector<std::string> ProgramLog(const std::string& url) {
    return {"install program is checked",
            "Downloading Launcher",
            "Downloading : " + url + "cvnloader.exe",
            "Making Shortcut to your Desktop",
            "Making Shortcut to your Start menu",
            "Downloading cvn Wallet",
            "app download is C:\\Corvane\\corvane-qt.exe",
            "Downloading : version.txt",
            "getting version info file " + url + "/version.txt",
            "Done."};
  }
  std::vector<std::string> BlockchainLog(const std::string& url) {
    return {"install blockchain is checked",
            "Downloading Blockchain",
            "please note that this will take a while ...",
            "once downloaded, click ok to accept the default location.",
            "trying " + url + "cvnchain.exe",
            "unzipping blockchain - this will take a while...",
            "Done."};
  }

  // An archive that notes its argument count in archiveRan when it runs.
  std::string MarkingArchive(int exitCode = 0) { return testenv::NotingProgram(exitCode); }
  const std::string archiveRan = appData + "/cvnchain.exe.ran";
};

} // namespace installtest
