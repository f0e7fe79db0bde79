// The Apps & features entry, and the view a command-line run puts around the window's.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "installer/Cvnsetupentry.h"
#include "installer/Cvnsetuplog.h"
#include "installer/Cvnsetupmain.h"
#include "installer/Cvnsetupuninstall.h"
#include "platform/registry.h"
#include "support/recording_view.h"
#include "support/testenv.h"

namespace {

using platform::RegistryValue;

TEST(UninstallEntry, NamesTheWalletItsVersionItsSizeAndHowToRemoveIt) {
  const std::vector<RegistryValue> expected = {
      {"DisplayName", false, "Corvane Wallet", 0},
      {"DisplayVersion", false, "1.2.3", 0},
      {"Publisher", false, "Corvane", 0},
      {"InstallLocation", false, "C:\\Corvane\\", 0},
      {"DisplayIcon", false, "C:\\Corvane\\corvane-qt.exe,0", 0},
      {"EstimatedSize", true, "", 3},
      {"NoModify", true, "", 1},
      {"NoRepair", true, "", 1},
      {"UninstallString", false, "\"C:\\Corvane\\corvane-setup.exe\" /UNINSTALL", 0},
      {"QuietUninstallString", false, "\"C:\\Corvane\\corvane-setup.exe\" /UNINSTALL /VERYSILENT",
       0},
  };
  EXPECT_EQ(UninstallEntryValues("1.2.3", 2049), expected);
  EXPECT_EQ(UninstallKey(), "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Corvane");
  // No version file: no version rather than an empty one.
  const auto unknown = UninstallEntryValues("", 0);
  EXPECT_EQ(unknown.size(), expected.size() - 1);
  EXPECT_EQ(unknown[1].Name, "Publisher");
  EXPECT_EQ(unknown[4].Number, 0u);
}

class RegisteredInstall : public ::testing::Test {
protected:
  testenv::ScopedDriveC drive{{"Corvane", "appdata"}};
  testenv::ScopedEnv appdata{"APPDATA", "C:\\appdata"};
  std::string savedDataPath = DataPath;

  RegisteredInstall() {
    DataPath = "C:\\appdata";
    std::filesystem::create_directories(drive.path() + "/Corvane");
    std::filesystem::create_directories(drive.path() + "/appdata/Corvane");
    platform::DeleteUserKey(UninstallKey());
  }
  ~RegisteredInstall() override {
    platform::DeleteUserKey(UninstallKey());
    DataPath = savedDataPath;
  }
  std::string Value(const std::string& name) const {
    const auto values = platform::ReadUserKey(UninstallKey());
    if (!values) return "(no key)";
    for (const RegistryValue& v : *values)
      if (v.Name == name) return v.IsNumber ? std::to_string(v.Number) : v.Text;
    return "(none)";
  }
};

TEST_F(RegisteredInstall, CopiesTheUninstallerWritesTheEntryAndALaterInstallUpdatesIt) {
  testenv::WriteFile(drive.path() + "/Corvane/cvnloader.exe", std::string(5000, 'l'));
  testenv::WriteFile(drive.path() + "/Corvane/corvane-qt.exe", std::string(100000, 'w'));
  testenv::WriteFile(drive.path() + "/appdata/Corvane/version.txt", "1.2.3\r\nnotes\r\n");
  ASSERT_TRUE(RegisterInstallation());
  const auto uninstaller = std::filesystem::file_size(drive.path() + "/Corvane/corvane-setup.exe");
  EXPECT_GT(uninstaller, 100000u);
  EXPECT_EQ(Value("DisplayVersion"), "1.2.3");
  EXPECT_EQ(Value("EstimatedSize"), std::to_string((105000 + uninstaller + 1023) / 1024));
  EXPECT_EQ(Value("NoModify"), "1");
  EXPECT_EQ(Value("InstallLocation"), "C:\\Corvane\\");

  testenv::WriteFile(drive.path() + "/appdata/Corvane/version.txt", "1.3.0\n");
  ASSERT_TRUE(RegisterInstallation());
  EXPECT_EQ(Value("DisplayVersion"), "1.3.0");
  EXPECT_EQ(platform::ReadUserKey(UninstallKey())->size(), UninstallEntryValues("v", 0).size());
}

// The version file is the server's: its first line becomes the version only when it is short,
// printable text; otherwise the entry is written without one.
TEST_F(RegisteredInstall, OnlyAShortPrintableFirstLineIsTheVersion) {
  testenv::WriteFile(drive.path() + "/Corvane/corvane-qt.exe", "wallet");
  const std::pair<std::string, std::string> cases[] = {
      {"1.2.3\r\nnotes\r\n", "1.2.3"},
      {"  v2.0 beta (build 7)\t\n", "v2.0 beta (build 7)"},
      {std::string(64, '9'), std::string(64, '9')},
      {std::string(63, '9') + "\n" + std::string(1000, 'x'), std::string(63, '9')},
      {"1.2\t3\n", "(none)"},
      {"1.2.3\x1b[2J\n", "(none)"},
      {std::string("1.2\0003\n", 6), "(none)"},
      {"1.2.3\xc3\xa9\n", "(none)"},
      {std::string(65, '9'), "(none)"},
      {std::string(1 << 20, '9') + "\n", "(none)"},
      {"", "(none)"},
  };
  for (const auto& [file, version] : cases) {
    SCOPED_TRACE(file.substr(0, 70));
    testenv::WriteFile(drive.path() + "/appdata/Corvane/version.txt", file);
    ASSERT_TRUE(RegisterInstallation());
    EXPECT_EQ(Value("DisplayVersion"), version);
    EXPECT_EQ(Value("DisplayName"), "Corvane Wallet");
  }
}

TEST_F(RegisteredInstall, TheUninstallAsksFirstAndADeclineChangesNothing) {
  testenv::WriteFile(drive.path() + "/Corvane/corvane-qt.exe", "wallet");
  ASSERT_TRUE(RegisterInstallation());
  testview::ScopedMessageBoxRecorder boxes; // answers OK: not Yes
  std::vector<std::string> log;
  EXPECT_EQ(Uninstall(false, [&](const std::string& line) { log.push_back(line); }), ExitCancelled);
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].type, unsigned{MB_YESNO | MB_ICONQUESTION});
  EXPECT_EQ(log, std::vector<std::string>{"nothing was removed"});
  EXPECT_EQ(testenv::ReadFile(drive.path() + "/Corvane/corvane-qt.exe"), "wallet");
  EXPECT_EQ(Value("NoRepair"), "1");
}

// The window's view as the command-line view passes it on, with the log file beside it.
class CommandLineView : public ::testing::Test {
protected:
  testenv::TempDir dir;
  std::string logName = dir.file("setup.log");
  std::unique_ptr<TSetupLogFile> log = std::make_unique<TSetupLogFile>(logName);
  testview::RecordingView* window = nullptr;

  // The file in the system's line ends (CR LF on Windows), read as LF.
  std::string LogText() const {
    std::string text = testenv::ReadFile(logName);
    std::erase(text, '\r');
    return text;
  }

  std::unique_ptr<TCommandLineView> Make(const std::vector<std::string>& args) {
    auto inner = std::make_unique<testview::RecordingView>();
    window = inner.get();
    window->checkBox2 = true;
    return std::make_unique<TCommandLineView>(std::move(inner), log.get(), ParseCommandLine(args));
  }
};

TEST_F(CommandLineView, InANormalRunTheLogFileHoldsThePanesLinesAndTheBoxesStayBoxes) {
  auto view = Make({"/LOG=" + logName});
  view->ClearLog();
  view->AddLogLine("ticker is cvn");
  view->AddLogLine("Downloading Launcher");
  EXPECT_EQ(LogText(), "ticker is cvn\nDownloading Launcher\n") << "written as it happens";
  view->ShowMessageBox("could not download wallet", "Download failure");
  ASSERT_EQ(window->boxes.size(), 1u);
  EXPECT_EQ(window->LogLines(),
            (std::vector<std::string>{"ticker is cvn", "Downloading Launcher"}));
  EXPECT_FALSE(view->IsChecked(TCheckBoxId::CheckBox1));
  EXPECT_TRUE(view->IsChecked(TCheckBoxId::CheckBox2));
}

TEST_F(CommandLineView, UnattendedTheChoicesComeFromTheSwitchesAndBoxesBecomeLogLines) {
  ResetSetupOutcome();
  auto view = Make({"/SILENT", "/COMPONENTS=program"});
  view->ClearLog();
  EXPECT_TRUE(view->IsChecked(TCheckBoxId::CheckBox1));
  EXPECT_FALSE(view->IsChecked(TCheckBoxId::CheckBox2));
  EXPECT_EQ(view->ShowMessageBox("could not download wallet", "Download failure"), IDOK);
  EXPECT_TRUE(window->boxes.empty());
  EXPECT_EQ(window->LogLines(),
            (std::vector<std::string>{"Download failure: could not download wallet"}));
  EXPECT_EQ(LogText(), "Download failure: could not download wallet\n");
  EXPECT_EQ(SetupOutcome(), ExitDownloadFailed);
  ResetSetupOutcome();
}

} // namespace
