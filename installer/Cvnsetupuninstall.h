// Removing what the installer installed.
#pragma once

#include <functional>
#include <string>

#include "installer/Cvnsetupcmdline.h"

// Removes the launcher, the wallet, both shortcuts, the start-menu folder and the part files of
// cut or kept downloads in the application folder; then, only when all of those went, the Apps &
// features entry and the uninstaller (otherwise both stay, to try again from, and the exit is
// WriteFailed); and the application folder when nothing else is left in it. Asks first unless
// quiet; changes nothing while the wallet or its launcher is running. Never touches the wallet's
// data folder (the user's keys) or the blockchain archive. Its boxes go through the system's
// message box; log gets a line for every step.
TSetupExit Uninstall(bool quiet, const std::function<void(const std::string&)>& log);
