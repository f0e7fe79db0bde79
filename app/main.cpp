// The entry: the command line decides between the installer window, an unattended install and
// the uninstall.
#include "installer/Cvnsetuprun.h"
#include "installer/view.h"
#include "platform/appinit.h"
#include "platform/program.h"

int main(int argc, char** argv) {
  // Before anything can load a DLL: none may come from the folder the installer was started in.
  platform::RestrictDllSearch();
  return RunSetup(platform::ProgramArguments(argc, argv), CreatePlatformView);
}
