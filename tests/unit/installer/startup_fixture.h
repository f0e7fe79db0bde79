// A clean machine for the installer's start-up: a clean drive C:, its own APPDATA, fresh state.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "installer/Cvnsetupmain.h"
#include "support/recording_view.h"
#include "support/testenv.h"

class StartUpTest : public ::testing::Test {
protected:
  StartUpTest() : appData_("APPDATA", Roaming()) {
    MakeDir(RoamingOnDisk());
    DataPath.clear();
    FoundText.clear();
    ChainDirFound = AppDirFound = false;
  }

  // APPDATA as Wine sets it, and where that is on disk.
  static std::string Roaming() { return "C:\\users\\tester\\AppData\\Roaming"; }
  std::string RoamingOnDisk() const { return drive_.path() + "/users/tester/AppData/Roaming"; }
  std::string ChainDirOnDisk() const { return RoamingOnDisk() + "/Corvane"; }
  std::string AppDirOnDisk() const { return drive_.path() + "/Corvane"; }
  void MakeDir(const std::string& dir) const { std::filesystem::create_directories(dir); }

  testenv::ScopedDriveC drive_{{"Corvane", "users\\tester", "users\\nobody", "Users\\Ann", "Data"}};
  testenv::ScopedEnv appData_;
  testview::ScopedRecordingViews views_;
};
