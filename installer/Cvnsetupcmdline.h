// The installer's command line, the exit codes it ends with, and the outcome of an unattended run.
#pragma once

#include <exception>
#include <string>
#include <vector>

#include "platform/proxy.h"

enum class TSetupMode {
  Normal,     // the window, waiting for Next
  Silent,     // the window and its progress; asks nothing, closes itself at the end
  VerySilent, // no window at all
};

struct TSetupOptions {
  TSetupMode Mode = TSetupMode::Normal;
  bool Uninstall = false;
  bool Help = false;
  // The parts an unattended install installs: /COMPONENTS, by default the program alone.
  bool Program = true;
  bool Blockchain = false;
  std::string LogFile;    // empty: none
  bool LogInTemp = false; // a bare /LOG: a file in the temporary folder, named as Inno names it
  // What to do when a running program holds a file the install replaces: /CLOSEAPPLICATIONS asks
  // the system to close it first; otherwise an unattended run leaves it and ends with exit code 7.
  bool CloseApplications = false;
  // /NOCANCEL: closing the window does not cancel an unattended run.
  bool NoCancel = false;
  // /PROXY=URL (or /PROXY=direct): the proxy every download goes through, whatever the system's
  // settings say.
  bool HasProxy = false;
  platform::TProxy Proxy;

  bool Unattended() const { return Mode != TSetupMode::Normal; }
};

// Switches begin with "/" or "-" and are matched without regard to case. Raises Exception with a
// message for the user on a switch it does not know or a value it cannot take.
TSetupOptions ParseCommandLine(const std::vector<std::string>& args);

// What /? prints: the switches and the exit codes.
std::string UsageText();

// The exit codes. An interactive install ends with Ok whatever happened in it.
enum TSetupExit : int {
  ExitOk = 0,
  ExitAlreadyRunning = 1, // another installer is running
  ExitBadCommandLine = 2, // an unknown switch or a bad value
  ExitDownloadFailed = 3, // a download failed (HTTP error, connection, time-out)
  ExitVerifyFailed = 4,   // the signed list or a download did not verify
  ExitWriteFailed = 5,    // a file or folder could not be written
  ExitCancelled = 6,      // the window was closed during the install, or the removal declined
  ExitWalletRunning = 7,  // the wallet (or its launcher) is running: the uninstall changed nothing,
                          // an install left the running program as it was
  ExitOtherError = 8,     // any other error
};

// The first failure of this run: the steps note it where they decide it. ExitOk until then.
void NoteSetupFailure(TSetupExit code);
TSetupExit SetupOutcome();
void ResetSetupOutcome();

// The exit code that an exception ending a press of Next stands for.
TSetupExit ExitCodeOf(const std::exception& error);
