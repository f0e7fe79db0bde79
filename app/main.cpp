// The entry: the command line decides between the installer window, an unattended install and
// the uninstall.
#include "installer/Cvnsetuprun.h"
#include "installer/view.h"
#include "platform/program.h"

int main(int argc, char** argv) {
  return RunSetup(platform::ProgramArguments(argc, argv), CreatePlatformView);
}
