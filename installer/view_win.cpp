// The Windows view: not written yet. Creating it fails with the framework's exception, which
// the application object shows in its error box.
#include "framework/Sysutils.h"
#include "installer/view.h"

std::unique_ptr<TInstallerView> CreatePlatformView() {
  throw Exception("The installer window is not available in this build");
}
