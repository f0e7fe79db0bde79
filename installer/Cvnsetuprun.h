// The whole run of the program from its command line: the window as it always was, an
// unattended install, or the uninstall.
#pragma once

#include <string>
#include <vector>

#include "installer/view.h"

// Returns the exit code (Cvnsetupcmdline.h). window makes the toolkit's view of the window.
int RunSetup(const std::vector<std::string>& args, const TViewFactory& window);
