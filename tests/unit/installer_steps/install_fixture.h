// A TForm1 on a recording view, downloading from a scripted loopback server into a private
// Wine-style prefix and APPDATA folder.
#pragma once

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "installer/Cvnsetupmain.h"
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
inline PeerScript NotFound() {
  return Reply("HTTP/1.0 404 Not Found\r\nContent-Length: 9", "not found");
}

class InstallSteps : public ::testing::Test {
protected:
  testenv::TempDir dir;
  testenv::ScopedEnv prefixEnv{"WINEPREFIX", dir.file("prefix")};
  // APPDATA as Windows sets it: a path on C:.
  testenv::ScopedEnv appdataEnv{"APPDATA", "C:\\appdata"};
  testview::ScopedRecordingViews views;
  testview::ScopedMessageBoxRecorder errorBoxes;
  std::string savedUrl = DownloadUrl;
  // These steps are those of a build without a publisher key unless a test sets one.
  std::string savedKey = std::exchange(PublisherKey, "");
  std::unique_ptr<testsupport::LoopbackPeer> peer;
  std::unique_ptr<TForm1> form;
  size_t startupLines = 0;

  const std::string appDir = dir.file("prefix/drive_c/Corvane");
  const std::string appData = dir.file("prefix/drive_c/appdata");
  const std::string user = getpwuid(getuid())->pw_name;
  const std::string profile = dir.file("prefix/drive_c/users/" + user);
  const std::string desktopLink = profile + "/Desktop/Corvane.lnk";
  const std::string startMenuLink =
      profile + "/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Corvane/Corvane.lnk";

  std::string savedTitle = Application->Title;

  InstallSteps() {
    std::filesystem::create_directories(appData);
    Application->Title = "Corvane Setup";
  }
  ~InstallSteps() override {
    form.reset();
    DownloadUrl = savedUrl;
    PublisherKey = savedKey;
    Application->Title = savedTitle;
  }

  // The server answers connection i with scripts[i]; the form starts up against it.
  void Start(std::vector<PeerScript> scripts) {
    peer = std::make_unique<testsupport::LoopbackPeer>(std::move(scripts));
    DownloadUrl = peer->Url("/downloads/");
    form = std::make_unique<TForm1>(nullptr);
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

  // Files whose name ends in ".part" anywhere under the test folder.
  std::vector<std::string> Leftovers() {
    std::vector<std::string> found;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir.path()))
      if (e.path().extension() == ".part") found.push_back(e.path().string());
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

  // An archive that notes how it was run, into a file beside the test folder's root.
  std::string MarkingArchive() {
    return "#!/bin/sh\necho \"$# $0\" > '" + dir.file("archive-ran") + "'\n";
  }
};

} // namespace installtest
