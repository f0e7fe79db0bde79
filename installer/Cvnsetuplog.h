// The log file of /LOG, and the view a run from the command line puts around the window's.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "installer/Cvnsetupcmdline.h"
#include "installer/view.h"

// The log pane's lines, each written out as soon as it is logged, so that a run that is ended
// from outside leaves what it did so far.
class TSetupLogFile {
public:
  // Creates or empties the file (with append, keeps what it holds and writes after it); raises
  // EFCreateError "Cannot create file %s" when it cannot.
  explicit TSetupLogFile(const std::string& fileName, bool append = false);
  ~TSetupLogFile();
  TSetupLogFile(const TSetupLogFile&) = delete;
  TSetupLogFile& operator=(const TSetupLogFile&) = delete;

  void AddLine(const std::string& line);

private:
  std::FILE* file_ = nullptr;
};

// Where a bare /LOG writes: "Setup Log YYYY-MM-DD #NNN.txt" in the temporary folder, the first
// number not yet taken, as Inno Setup names its logs (so package managers find it where they look).
std::string TempLogFileName();

// Around the window's view (none with /VERYSILENT): every log line also goes into the log file.
// Unattended it answers the boxes from /COMPONENTS and turns message boxes into log lines.
class TCommandLineView : public TInstallerView {
public:
  TCommandLineView(std::unique_ptr<TInstallerView> window, TSetupLogFile* log,
                   const TSetupOptions& options);

  void ClearLog() override;
  void AddLogLine(const std::string& text) override;
  void SetProgressVisible(bool visible) override;
  void SetProgressPosition(int position) override;
  bool IsChecked(TCheckBoxId box) const override;
  void SetWindowCaption(const std::string& text) override;
  int ShowMessageBox(const std::string& text, const std::string& caption) override;
  void Show() override;
  int ProgressMax() const override;

  // A message box as a log line: caption, colon, text.
  static std::string BoxLine(const std::string& text, const std::string& caption);

protected:
  void DoSetProgressMax(int max) override;

private:
  std::unique_ptr<TInstallerView> window_;
  TSetupLogFile* log_;
  TSetupOptions options_;
  int progressMax_ = form1_layout::ProgressMax;
};
