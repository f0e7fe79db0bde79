#include <memory>
#include <string>
#include <vector>

#include "startup_fixture.h"

using Lines = std::vector<std::string>;

TEST_F(StartUpTest, FirstRunCreatesBothDirectoriesAndSaysSo) {
  TForm1 form(nullptr);
  const std::string r = Roaming();
  EXPECT_EQ(views_.Last().LogLines(),
            (Lines{"ticker is cvn", "inipath is Corvane", "datapath is " + r,
                   "looking for file " + r + "\\Corvane\\", "attribs= 4294967295",
                   "AppData\\Corvane\\ chain directory found is: false", "I will now create it.",
                   "looking for file C:\\Corvane\\", "attribs= 4294967295",
                   "C:\\Corvane\\ app directory found is: false", "I will now create it."}));
  EXPECT_TRUE(std::filesystem::is_directory(ChainDirOnDisk()));
  EXPECT_TRUE(std::filesystem::is_directory(AppDirOnDisk()));
  EXPECT_EQ(DataPath, r);
  EXPECT_FALSE(ChainDirFound);
  EXPECT_FALSE(AppDirFound);
  EXPECT_EQ(FoundText, "false");
}

TEST_F(StartUpTest, LaterRunFindsBothAndIsConfiguredForBoth) {
  MakeDir(ChainDirOnDisk());
  MakeDir(AppDirOnDisk());
  TForm1 form(nullptr);
  const Lines log = views_.Last().LogLines();
  ASSERT_EQ(log.size(), 11u);
  EXPECT_EQ(log[4], "attribs= 16");
  EXPECT_EQ(log[5], "AppData\\Corvane\\ chain directory found is: true");
  EXPECT_EQ(log[8], "C:\\Corvane\\ app directory found is: true");
  EXPECT_EQ(log[9], "configured to update the app");
  EXPECT_EQ(log[10], "configured to install the blockchain");
  EXPECT_TRUE(ChainDirFound);
  EXPECT_TRUE(AppDirFound);
  EXPECT_EQ(FoundText, "true");
}

TEST_F(StartUpTest, EachMissingDirectoryDropsItsClosingLine) {
  {
    MakeDir(AppDirOnDisk());
    TForm1 form(nullptr);
    const Lines log = views_.Last().LogLines();
    EXPECT_EQ(log.back(), "configured to install the blockchain");
    EXPECT_EQ(log[log.size() - 2], "C:\\Corvane\\ app directory found is: true");
    EXPECT_EQ(std::count(log.begin(), log.end(), "I will now create it."), 1);
  }
  std::filesystem::remove_all(AppDirOnDisk());
  {
    TForm1 form(nullptr); // the chain directory is there now, from the run above
    const Lines log = views_.Last().LogLines();
    EXPECT_EQ(log.back(), "configured to update the app");
    EXPECT_EQ(log[log.size() - 2], "I will now create it.");
    EXPECT_TRUE(std::filesystem::is_directory(AppDirOnDisk()));
  }
}

TEST_F(StartUpTest, StartUpReplacesTheStoredLogAndCaption) {
  TForm1 form(nullptr);
  const testview::RecordingView& view = views_.Last();
  ASSERT_GE(view.calls.size(), 4u);
  EXPECT_EQ(view.calls[0], "ClearLog");
  EXPECT_EQ(view.calls[3], "SetWindowCaption Corvane Installer - Updater");
  EXPECT_EQ(view.LogLines().front(), "ticker is cvn");
  EXPECT_EQ(view.caption, "Corvane Installer - Updater");
  EXPECT_EQ(view.shows, 0);
}

TEST_F(StartUpTest, MissingParentStopsTheProgramWithTheStandardBox) {
  testenv::ScopedEnv appData("APPDATA", "C:\\users\\nobody\\AppData\\Roaming");
  const std::string chainDir = "C:\\users\\nobody\\AppData\\Roaming\\Corvane\\";
  testview::ScopedMessageBoxRecorder recorder;
  TApplication app;
  app.Title = "Corvane Setup";
  TForm1* ref = nullptr;
  try {
    app.CreateForm(ref);
    FAIL() << "construction went through";
  } catch (const Exception& E) {
    EXPECT_EQ(E.Message, "Cannot create " + chainDir);
    EXPECT_EQ(ref, nullptr);
    EXPECT_EQ(app.MainForm, nullptr);
    app.ShowException(E);
  }
  ASSERT_EQ(recorder.boxes.size(), 1u);
  EXPECT_EQ(recorder.boxes[0].text, "Cannot create " + chainDir + ".");
  EXPECT_EQ(recorder.boxes[0].caption, "Corvane Setup");
  EXPECT_EQ(recorder.boxes[0].type, unsigned(MB_OK | MB_ICONERROR));
  // The app directory is neither probed nor created.
  const Lines log = views_.LastLog();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[log.size() - 2], "Cannot create " + chainDir);
  EXPECT_EQ(log.back().rfind("reason: ", 0), 0u) << log.back();
  EXPECT_FALSE(std::filesystem::exists(AppDirOnDisk()));
}

TEST_F(StartUpTest, AppDirThatCannotBeCreatedKeepsTheNewChainDir) {
  // A file stands where the folder C:\Corvane should be.
  testenv::WriteFile(AppDirOnDisk(), "");
  try {
    TForm1 form(nullptr);
    FAIL() << "construction went through";
  } catch (const Exception& E) {
    EXPECT_EQ(E.Message, "Cannot create C:\\Corvane\\");
  }
  // The system's reason beside the program's own text: a file of that name.
  const Lines log = views_.LastLog();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[log.size() - 2], "Cannot create C:\\Corvane\\");
  const std::string reason = log.back();
  EXPECT_EQ(reason.rfind("reason: ", 0), 0u) << reason;
  EXPECT_EQ(reason.substr(reason.size() - std::min<size_t>(reason.size(), 12)), " (error 183)")
      << reason;
  EXPECT_TRUE(std::filesystem::is_directory(ChainDirOnDisk()));
  EXPECT_FALSE(ChainDirFound);
  EXPECT_FALSE(AppDirFound);
}

TEST_F(StartUpTest, IniPathNamedPathSkipsTheChecks) {
  const std::string saved = IniPath;
  IniPath = "Path";
  {
    TForm1 form(nullptr);
    const Lines log = views_.Last().LogLines();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[3], "ini file missing 'Path' - please update the ini file");
    EXPECT_EQ(views_.Last().caption, "Path Installer - Updater");
  }
  IniPath = saved;
  EXPECT_FALSE(std::filesystem::exists(ChainDirOnDisk()));
  EXPECT_FALSE(std::filesystem::exists(AppDirOnDisk()));
  EXPECT_FALSE(ChainDirFound || AppDirFound);
}

TEST_F(StartUpTest, ProbePathLogsTheAttributeWordAndIgnoresItsBits) {
  MakeDir(AppDirOnDisk());
  TForm1 form(nullptr);
  testview::RecordingView& view = views_.Last();
  testenv::WriteFile(RoamingOnDisk() + "/file.txt", "x");
  view.ClearLog();

  EXPECT_TRUE(form.ProbePath(Roaming() + "\\file.txt")); // a file counts as found too
  EXPECT_FALSE(form.ProbePath("C:\\Corvane\\missing\\"));
  EXPECT_TRUE(form.ProbePath("C:/Corvane"));
  EXPECT_EQ(view.LogLines(),
            (Lines{"looking for file " + Roaming() + "\\file.txt", "attribs= 32",
                   "looking for file C:\\Corvane\\missing\\", "attribs= 4294967295",
                   "looking for file C:/Corvane", "attribs= 16"}));
}

TEST_F(StartUpTest, ExceptionFromTheButtonIsShownAndTheWindowGoesOn) {
  TForm1 form(nullptr);
  testview::RecordingView& view = views_.Last();
  testview::ScopedMessageBoxRecorder recorder;
  Application->Title = "Corvane Setup";
  view.OnButton1Click = [] { throw Exception("Cannot create file C:\\x"); };
  view.ClickButton1();
  view.OnButton1Click = [] { throw EAbort("quiet"); };
  view.ClickButton1();
  ASSERT_EQ(recorder.boxes.size(), 1u);
  EXPECT_EQ(recorder.boxes[0].text, "Cannot create file C:\\x.");
  EXPECT_EQ(recorder.boxes[0].caption, "Corvane Setup");
}
