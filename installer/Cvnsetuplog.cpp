#include "installer/Cvnsetuplog.h"

#include <ctime>
#include <filesystem>
#include <system_error>

#include "framework/Sysutils.h"
#include "platform/paths.h"
#include "platform/winapi_base.h"

TSetupLogFile::TSetupLogFile(const std::string& fileName, bool append)
    // Text mode: the system's own line ends.
    : file_(platform::OpenFile(fileName, append ? "a" : "w")) {
  if (!file_) throw EFCreateError(Format("Cannot create file %s", fileName.c_str()));
}

TSetupLogFile::~TSetupLogFile() {
  std::fclose(file_);
}

void TSetupLogFile::AddLine(const std::string& line) {
  std::fputs(line.c_str(), file_);
  std::fputc('\n', file_);
  std::fflush(file_);
}

std::string TempLogFileName() {
  std::error_code ec;
  const auto folder = std::filesystem::temp_directory_path(ec);
  const auto utf8 = folder.u8string();
  std::string base(utf8.begin(), utf8.end());
  if (!base.empty() && base.back() != '\\' && base.back() != '/') base += '/';
  const std::time_t now = std::time(nullptr);
  char day[16];
  std::strftime(day, sizeof day, "%Y-%m-%d", std::localtime(&now));
  std::string name;
  for (int n = 1; n <= 999; ++n) {
    name = base + Format("Setup Log %s #%03d.txt", day, n);
    if (!std::filesystem::exists(platform::FilePath(name), ec)) break;
  }
  return name;
}

TCommandLineView::TCommandLineView(std::unique_ptr<TInstallerView> window, TSetupLogFile* log,
                                   const TSetupOptions& options)
    : window_(std::move(window)), log_(log), options_(options) {
  if (!window_) return;
  window_->CloseIgnored = options_.NoCancel && options_.Unattended();
  window_->OnButton1Click = [this] { FireButton1Click(); };
  window_->OnClosed = [this] { FireClosed(); };
}

void TCommandLineView::ClearLog() {
  if (window_) window_->ClearLog();
}

void TCommandLineView::AddLogLine(const std::string& text) {
  if (window_) window_->AddLogLine(text);
  if (log_) log_->AddLine(text);
}

void TCommandLineView::SetProgressVisible(bool visible) {
  if (window_) window_->SetProgressVisible(visible);
}

void TCommandLineView::SetProgressPosition(int position) {
  if (window_) window_->SetProgressPosition(position);
}

bool TCommandLineView::IsChecked(TCheckBoxId box) const {
  if (options_.Unattended())
    return box == TCheckBoxId::CheckBox1 ? options_.Program : options_.Blockchain;
  return window_ && window_->IsChecked(box);
}

void TCommandLineView::SetWindowCaption(const std::string& text) {
  if (window_) window_->SetWindowCaption(text);
}

int TCommandLineView::ShowMessageBox(const std::string& text, const std::string& caption) {
  if (!options_.Unattended()) return window_ ? window_->ShowMessageBox(text, caption) : IDOK;
  // The steps show a box only when a download failed; what they noted before says more.
  NoteSetupFailure(ExitDownloadFailed);
  AddLogLine(BoxLine(text, caption));
  return IDOK;
}

void TCommandLineView::Show() {
  if (window_) window_->Show();
}

int TCommandLineView::ProgressMax() const {
  return window_ ? window_->ProgressMax() : progressMax_;
}

void TCommandLineView::DoSetProgressMax(int max) {
  progressMax_ = max;
  if (window_) window_->SetProgressMax(max);
}

std::string TCommandLineView::BoxLine(const std::string& text, const std::string& caption) {
  return caption + ": " + text;
}
