#include "installer/Cvnsetupcmdline.h"

#include "framework/Sysutils.h"
#include "installer/Cvnsetupmain.h"

namespace {

TSetupExit outcome = ExitOk;

[[noreturn]] void Refuse(const std::string& why) {
  throw Exception(why + "; /? lists the switches");
}

void TakeComponents(const std::string& arg, const std::string& list, TSetupOptions& options) {
  options.Program = options.Blockchain = false;
  size_t at = 0;
  do {
    const size_t comma = list.find(',', at);
    const std::string name = Trim(list.substr(at, comma == std::string::npos ? comma : comma - at));
    if (SameText(name, "program"))
      options.Program = true;
    else if (SameText(name, "blockchain"))
      options.Blockchain = true;
    else
      Refuse("unknown component \"" + name + "\" in " + arg + " (program, blockchain)");
    at = comma == std::string::npos ? comma : comma + 1;
  } while (at != std::string::npos);
}

// The same folder as AppDir, spelt with either separator, any case, with or without its last one.
bool IsAppDir(std::string folder) {
  for (char& c : folder)
    if (c == '/') c = '\\';
  while (folder.size() > 3 && folder.back() == '\\')
    folder.pop_back();
  std::string fixed = AppDir;
  if (fixed.size() > 3 && fixed.back() == '\\') fixed.pop_back();
  return SameText(Trim(folder), fixed);
}

} // namespace

TSetupOptions ParseCommandLine(const std::vector<std::string>& args) {
  TSetupOptions options;
  bool components = false;
  for (const std::string& arg : args) {
    if (arg.size() < 2 || (arg[0] != '/' && arg[0] != '-'))
      Refuse("unknown argument \"" + arg + "\"");
    const size_t equals = arg.find('=');
    const std::string name =
        UpperCase(arg.substr(1, equals == std::string::npos ? equals : equals - 1));
    const bool hasValue = equals != std::string::npos;
    const std::string value = hasValue ? arg.substr(equals + 1) : std::string();
    if (hasValue && name != "COMPONENTS" && name != "LOG" && name != "DIR" && name != "PROXY")
      Refuse("the switch " + arg.substr(0, equals) + " takes no value");
    if (name == "?" || name == "HELP") {
      options.Help = true;
    } else if (name == "SILENT") {
      // As with Inno Setup, the quieter of the two wins.
      if (options.Mode != TSetupMode::VerySilent) options.Mode = TSetupMode::Silent;
    } else if (name == "VERYSILENT") {
      options.Mode = TSetupMode::VerySilent;
    } else if (name == "UNINSTALL") {
      options.Uninstall = true;
    } else if (name == "SUPPRESSMSGBOXES" || name == "NORESTART" || name == "SP-") {
      // Package managers pass these along with /VERYSILENT: an unattended run shows no box,
      // never restarts the machine and has no "This will install..." question anyway.
    } else if (name == "NOCANCEL") {
      options.NoCancel = true;
    } else if (name == "CLOSEAPPLICATIONS") {
      options.CloseApplications = true;
    } else if (name == "NOCLOSEAPPLICATIONS") {
      options.CloseApplications = false;
    } else if (name == "DIR") {
      if (!IsAppDir(value))
        Refuse("the folder is fixed: " + arg + " cannot move the program from " + AppDir);
    } else if (name == "COMPONENTS") {
      if (value.empty()) Refuse("/COMPONENTS needs a list: /COMPONENTS=program,blockchain");
      TakeComponents(arg, value, options);
      components = true;
    } else if (name == "PROXY") {
      // The value is not repeated: it may hold a password.
      options.HasProxy = true;
      options.Proxy = platform::TProxy();
      if (!SameText(value, "direct") && !platform::ParseProxyUrl(value, options.Proxy, 80))
        Refuse("/PROXY needs a proxy: /PROXY=http://[user:password@]host:port or /PROXY=direct");
    } else if (name == "LOG") {
      if (hasValue && value.empty()) Refuse("/LOG needs a file: /LOG=FILE");
      options.LogFile = value;
      options.LogInTemp = !hasValue;
    } else {
      Refuse("unknown switch \"" + arg + "\"");
    }
  }
  // Windows reads \" as a quote inside the argument: /LOG="C:\Logs\" /VERYSILENT is the one
  // argument /LOG=C:\Logs" /VERYSILENT, the rest of the line in the file name.
  if (options.LogFile.find('"') != std::string::npos)
    Refuse("a file name holds no quote: /LOG=" + options.LogFile +
           " (a \\ just before a closing \" keeps the quote and what follows in the value: "
           "double that \\ or leave it off)");
  if (components && options.Uninstall) Refuse("/COMPONENTS does not go with /UNINSTALL");
  if (components && !options.Unattended()) Refuse("/COMPONENTS goes with /SILENT or /VERYSILENT");
  return options;
}

std::string UsageText() {
  return "Usage: corvane-setup [/SILENT | /VERYSILENT] [/COMPONENTS=program,blockchain] "
         "[/LOG[=FILE]]\n"
         "       corvane-setup /UNINSTALL [/SILENT | /VERYSILENT] [/LOG=FILE]\n"
         "\n"
         "  /SILENT         show the window and its progress, ask nothing, close at the end\n"
         "  /VERYSILENT     show no window at all\n"
         "  /COMPONENTS=    the parts an unattended install installs (default: program)\n"
         "  /LOG=FILE       write the log lines into FILE as they happen (/LOG alone: into\n"
         "                  \"Setup Log YYYY-MM-DD #NNN.txt\" in the temporary folder)\n"
         "  /CLOSEAPPLICATIONS  close a running wallet that holds a file to replace\n"
         "  /NOCLOSEAPPLICATIONS  leave it running (the default): exit code 7\n"
         "  /NOCANCEL       closing the window does not cancel an unattended install\n"
         "  /PROXY=URL      download through this proxy, http://[user:password@]host:port,\n"
         "                  instead of the system's; /PROXY=direct for none\n"
         "  /SP-, /SUPPRESSMSGBOXES, /NORESTART  accepted; nothing to do\n"
         "  /DIR=C:\\Corvane  accepted only with this folder: it is fixed\n"
         "  /UNINSTALL      remove the wallet program, its shortcuts and its Apps & features "
         "entry;\n"
         "                  the wallet's data folder and the blockchain stay\n"
         "  /?              this text\n"
         "\n"
         "Exit codes: 0 done, 1 another installer is running, 2 bad command line,\n"
         "3 a download failed, 4 a download did not verify, 5 a file could not be written,\n"
         "6 cancelled, 7 the wallet is running, 8 another error.\n";
}

void NoteSetupFailure(TSetupExit code) {
  if (outcome == ExitOk) outcome = code;
}

TSetupExit SetupOutcome() {
  return outcome;
}

void ResetSetupOutcome() {
  outcome = ExitOk;
}

TSetupExit ExitCodeOf(const std::exception& error) {
  if (dynamic_cast<const EAbort*>(&error)) return ExitCancelled;
  if (dynamic_cast<const EStreamError*>(&error)) return ExitWriteFailed;
  // What else ends a press comes from a download: the connection, or the server's reply.
  if (dynamic_cast<const Exception*>(&error)) return ExitDownloadFailed;
  return ExitOtherError;
}
