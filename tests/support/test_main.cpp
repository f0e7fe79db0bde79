// Test programs run on the program's own message loop, so that window messages, timers and
// message boxes work as in the program. On Linux that loop is Qt's; its offscreen platform needs
// no display.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/msgloop.h"
#include "support/testenv.h"

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) testenv::SetEnv("QT_QPA_PLATFORM", "offscreen");
  // The tests' loopback servers are reached directly, whatever proxy the shell names.
  for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
    testenv::SetEnv(name, std::nullopt);
  testing::InitGoogleTest(&argc, argv);
  platform::InitializeMessageLoop(nullptr);
  return RUN_ALL_TESTS();
}
