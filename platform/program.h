// What a program that installs and removes itself needs of the system: its arguments, its own
// file, standard output, and whether a file is held by a running program.
#pragma once

#include <string>
#include <vector>

namespace platform {

// The arguments after the program's name, in UTF-8 (on Windows from the wide command line, so any
// user's paths survive).
std::vector<std::string> ProgramArguments(int argc, char** argv);

// The running program's own file, as a path the file functions take.
std::string ProgramFile();

// Writes text to standard output (standard error with toError). False when the program has none
// to write to: a Windows program with a window started from the desktop.
bool WriteStandardStream(const std::string& text, bool toError);

// Whether a running program holds the file. On Windows: the file exists and cannot be opened for
// exclusive access. On Linux: a process of this user has it open or mapped (a program running it,
// also under Wine).
bool FileInUse(const std::string& path);

// The names of the programs that hold the file, as the user knows them (on Windows the Restart
// Manager's, on Linux the process's); empty when none does or the system cannot tell which.
std::vector<std::string> ProgramsUsing(const std::string& path);

// Asks the programs that hold the file to close (on Windows through the Restart Manager, as
// installers do; on Linux SIGTERM to the user's processes), and waits for them a while. True when
// the file is free afterwards.
bool CloseProgramsUsing(const std::string& path);

// Copies the running program to dest (replacing it whole, or leaving it as it was); true also
// when dest is the running program itself.
bool CopyProgramFile(const std::string& dest);

// Removes path, which may be the running program itself: where the system keeps a running
// program's file, it is moved into the temporary folder and removed when the system next starts.
bool RemoveProgramFile(const std::string& path);

} // namespace platform
