// The entry: the application object, its title, the installer window and the message loop.
#include "framework/Forms.h"
#include "installer/Cvnsetupmain.h"
#include "installer/view.h"

int main() {
  SetViewFactory(CreatePlatformView);
  try {
    Application->Initialize();
    Application->Title = "Corvane Setup";
    Application->CreateForm(Form1);
    Application->Run();
  } catch (const Exception& E) {
    Application->ShowException(E);
  } catch (...) {
    Application->ShowException(Exception());
  }
  return 0;
}
