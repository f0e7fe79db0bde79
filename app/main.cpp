// The entry: the application object, its title, the installer window and the message loop.
#include "framework/Forms.h"
#include "installer/Cvnsetupmain.h"
#include "installer/view.h"
#include "platform/appinit.h"
#include "platform/files.h"
#include "platform/win32.h"

int main() {
  platform::RestrictDllSearch();
  SetViewFactory(CreatePlatformView);
  try {
    Application->Initialize();
    Application->Title = "Corvane Setup";
    // Two installers would download into the same temporary files and replace each other's.
    if (!platform::AcquireInstanceLock()) {
      win::MessageBoxA(nullptr, "Corvane Setup is already running.", "Corvane Setup",
                       MB_OK | MB_ICONERROR);
      return 1;
    }
    Application->CreateForm(Form1);
    Application->Run();
  } catch (const Exception& E) {
    Application->ShowException(E);
  } catch (...) {
    Application->ShowException(Exception());
  }
  return 0;
}
