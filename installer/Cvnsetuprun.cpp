#include "installer/Cvnsetuprun.h"

#include <filesystem>
#include <memory>
#include <system_error>

#include "framework/Forms.h"
#include "installer/Cvnsetupcmdline.h"
#include "installer/Cvnsetupentry.h"
#include "installer/Cvnsetuplog.h"
#include "installer/Cvnsetupmain.h"
#include "installer/Cvnsetupuninstall.h"
#include "platform/appinit.h"
#include "platform/files.h"
#include "platform/msgbox.h"
#include "platform/paths.h"
#include "platform/program.h"
#include "platform/win32.h"

namespace {

// An unattended run must never wait for a click, also when its command line is wrong: a switch
// that asks for quiet counts also with a value ("/VERYSILENT=1") and where a quote ended by "\""
// made it part of another argument ("/LOG=C:\Logs\" /VERYSILENT" is the one argument
// /LOG=C:\Logs" /VERYSILENT).
bool AsksNothing(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    size_t at = 0;
    while ((at = arg.find_first_not_of(" \t\"", at)) != std::string::npos) {
      const size_t end = std::min(arg.find_first_of(" \t\"", at), arg.find('=', at));
      const std::string word = arg.substr(at, end == std::string::npos ? end : end - at);
      at = arg.find_first_of(" \t\"", at);
      if (word.size() < 2 || (word[0] != '/' && word[0] != '-')) continue;
      const std::string name = UpperCase(word.substr(1));
      if (name == "SILENT" || name == "VERYSILENT" || name == "SUPPRESSMSGBOXES") return true;
    }
  }
  return false;
}

// On standard output (or error) when the program has one, else in a box unless it asks nothing.
void Tell(const std::string& text, bool error, bool box) {
  if (platform::WriteStandardStream(text, error) || !box) return;
  win::MessageBoxA(nullptr, text.c_str(), "Corvane Setup",
                   MB_OK | (error ? MB_ICONERROR : MB_ICONINFORMATION));
}

bool ProgramInstalled() {
  std::error_code ec;
  return std::filesystem::exists(platform::FilePath(WalletDest()), ec);
}

// After a press that installed the program: the uninstaller and the Apps & features entry (never
// into a folder the program may not go into).
bool RegisterIfInstalled(bool programChosen) {
  return !programChosen || !AppDirRefusal.empty() || !ProgramInstalled() || RegisterInstallation();
}

} // namespace

int RunSetup(const std::vector<std::string>& args, const TViewFactory& window) {
  TSetupOptions options;
  try {
    options = ParseCommandLine(args);
  } catch (const Exception& e) {
    Tell("Corvane Setup: " + e.Message + "\n", true, !AsksNothing(args));
    return ExitBadCommandLine;
  }
  if (options.Help) {
    Tell(UsageText(), false, !options.Unattended());
    return ExitOk;
  }
  if (options.LogInTemp) options.LogFile = TempLogFileName();
  // Opened once this run holds the single-instance lock: the running installer's log is not a
  // second one's to empty.
  std::unique_ptr<TSetupLogFile> logFile;
  // A line goes where the log pane's lines go; before the window exists, into the file alone.
  auto logLine = [&](const std::string& line) {
    if (Form1)
      Form1->View().AddLogLine(line);
    else if (logFile)
      logFile->AddLine(line);
  };
  const bool unattended = options.Unattended();
  // Without a window to show, the program needs no display either.
  if (options.Mode == TSetupMode::VerySilent || (options.Uninstall && unattended))
    platform::InitializeConsoleApplication();
  platform::MessageBoxHook previousHook;
  if (unattended)
    previousHook = platform::SetMessageBoxHook(
        [&](win::HWND, const std::string& text, const std::string& caption, win::UINT) {
          logLine(TCommandLineView::BoxLine(text, caption));
          return IDOK;
        });
  TFinally restoreHook([&] {
    if (unattended) platform::SetMessageBoxHook(std::move(previousHook));
  });
  ResetSetupOutcome();

  try {
    Application->Initialize();
    Application->Title = "Corvane Setup";
    // Two installers would download into the same temporary files and replace each other's.
    if (!platform::AcquireInstanceLock()) {
      // At most a line after the other's, which an unattended run's box becomes.
      if (!options.LogFile.empty()) {
        try {
          logFile = std::make_unique<TSetupLogFile>(options.LogFile, true);
        } catch (const Exception&) {
        }
      }
      win::MessageBoxA(nullptr, "Corvane Setup is already running.", "Corvane Setup",
                       MB_OK | MB_ICONERROR);
      return ExitAlreadyRunning;
    }
    if (!options.LogFile.empty()) {
      try {
        logFile = std::make_unique<TSetupLogFile>(options.LogFile);
      } catch (const Exception& e) {
        Tell("Corvane Setup: " + e.Message + "\n", true, !unattended);
        return ExitWriteFailed;
      }
    }
    if (options.Uninstall) return Uninstall(unattended, logLine);

    if (!unattended && !logFile) {
      SetViewFactory(window);
    } else {
      SetViewFactory([&] {
        return std::make_unique<TCommandLineView>(
            options.Mode == TSetupMode::VerySilent ? nullptr : window(), logFile.get(), options);
      });
    }
    Application->CreateForm(Form1);
    Form1->AsksUser = !unattended;
    Form1->CloseApplications = options.CloseApplications;
    if (options.HasProxy) {
      const platform::TProxy proxy = options.Proxy;
      Form1->NMHTTP1->ProxyFor = [proxy](const std::string&) { return proxy; };
    }
    TInstallerView& view = Form1->View();
    if (!unattended) {
      auto press = view.OnButton1Click;
      view.OnButton1Click = [press, &view] {
        const bool program = view.IsChecked(TCheckBoxId::CheckBox1);
        if (press) press();
        RegisterIfInstalled(program);
      };
      Application->Run();
      Form1 = nullptr;
      return ExitOk;
    }

    Form1->Show();
    try {
      Form1->Button1Click(Form1);
    } catch (const std::exception& e) {
      NoteSetupFailure(ExitCodeOf(e));
      Application->HandleException(nullptr);
    } catch (...) {
      NoteSetupFailure(ExitOtherError);
      Application->HandleException(nullptr);
    }
    if (!RegisterIfInstalled(options.Program)) {
      NoteSetupFailure(ExitWriteFailed);
      logLine("could not write the Apps & features entry");
    }
    // The window closes itself: with the run ended, Run only destroys the forms.
    Application->Terminate();
    Application->Run();
    Form1 = nullptr;
    return SetupOutcome();
  } catch (const Exception& E) {
    // The start-up could not make a folder the install needs.
    Application->ShowException(E);
    return unattended ? ExitWriteFailed : ExitOk;
  } catch (...) {
    Application->ShowException(Exception());
    return unattended ? ExitOtherError : ExitOk;
  }
}
