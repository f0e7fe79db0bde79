// The access list of the program directory (files.h: CreateProgramDirectory), Windows only.
#pragma once

#include <string>

namespace platform {

// In the security descriptor string format, for the user this process runs as; empty when the
// user's SID cannot be read.
std::wstring ProgramDirectorySddl();

} // namespace platform
