// Test programs run on the program's own message loop, so that window messages, timers and
// message boxes work as in the program. On Linux that loop is Qt's; its offscreen platform needs
// no display.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/msgloop.h"
#include "support/testenv.h"

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) testenv::SetEnv("QT_QPA_PLATFORM", "offscreen");
  testing::InitGoogleTest(&argc, argv);
  platform::InitializeMessageLoop(nullptr);
  return RUN_ALL_TESTS();
}
