// Starting a program and waiting for its end.
#pragma once

#include <string>

namespace platform {

// Starts the program file at path (a Windows-style or native path, see paths.h) as a child
// process whose command line is that path alone, inheriting the environment,
// and waits without a time limit for it to end. The child starts in the program file's own folder.
// Returns the child's exit code, or -1 when the program could not be started (on Windows
// GetLastError then says why); callers that only want the run may ignore it.
//
// On Linux a Windows program (a file beginning with "MZ") is started through `wine` when wine is
// installed, and a script beginning with "#!" through its interpreter, since a downloaded file
// carries no execute permission.
//
// arguments follow the path on the command line as they are (on Linux split at spaces, without
// quoting).
int RunAndWait(const std::string& path, const std::string& arguments = std::string());

} // namespace platform
