// What a file must begin with for this system to start it as a program.
#pragma once

#include <string>

namespace platform {

// Whether head, the first bytes of a file, begins a program that RunAndWait can start: a Windows
// program ("MZ") everywhere, on Linux also an ELF file or a script ("#!").
bool IsProgramStart(const std::string& head);

} // namespace platform
