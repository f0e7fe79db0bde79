// A view of the installer window that records what the logic does to it, and a recorder of
// message boxes, so that installer tests run without a window and without anyone clicking.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "framework/Classes.h"
#include "installer/view.h"
#include "platform/msgbox.h"
#include "platform/win32.h"

namespace testview {

class RecordingView : public TInstallerView {
public:
  // The log pane's text: every line followed by CR LF, as the window stores it.
  std::string memoText = std::string(form1_layout::Controls[2].Text) + "\r\n";
  std::string caption = form1_layout::Caption;
  bool progressVisible = true;
  int progressMax = form1_layout::ProgressMax;
  int progressPosition = form1_layout::ProgressPosition;
  bool checkBox1 = false;
  bool checkBox2 = false;
  int shows = 0;

  struct Box {
    std::string text;
    std::string caption;
  };
  std::vector<Box> boxes;
  // Every operation in order, with its argument: "AddLogLine attribs= 16", "SetProgressMax 0".
  std::vector<std::string> calls;
  // Runs while a message box is "open", for tests that act during it.
  std::function<void()> duringMessageBox;
  // Runs as the view goes, with its form: tests read what it showed last.
  std::function<void(const RecordingView&)> onDestroy;

  ~RecordingView() override {
    if (onDestroy) onDestroy(*this);
  }

  // The log as the user reads it, one entry per line.
  std::vector<std::string> LogLines() const {
    TStringList lines;
    lines.SetText(memoText);
    return lines.Lines();
  }

  void ClickButton1() { FireButton1Click(); }
  void CloseWindow() { FireClosed(); }

  void ClearLog() override {
    calls.push_back("ClearLog");
    memoText.clear();
  }
  void AddLogLine(const std::string& text) override {
    calls.push_back("AddLogLine " + text);
    memoText += text + "\r\n";
  }
  void SetProgressVisible(bool visible) override {
    calls.push_back(std::string("SetProgressVisible ") + (visible ? "true" : "false"));
    progressVisible = visible;
  }
  void SetProgressPosition(int position) override {
    calls.push_back("SetProgressPosition " + std::to_string(position));
    progressPosition = position;
  }
  bool IsChecked(TCheckBoxId box) const override {
    return box == TCheckBoxId::CheckBox1 ? checkBox1 : checkBox2;
  }
  void SetWindowCaption(const std::string& text) override {
    calls.push_back("SetWindowCaption " + text);
    caption = text;
  }
  int ShowMessageBox(const std::string& text, const std::string& boxCaption) override {
    calls.push_back("ShowMessageBox " + text);
    boxes.push_back({text, boxCaption});
    if (duringMessageBox) duringMessageBox();
    return IDOK;
  }
  void Show() override {
    calls.push_back("Show");
    ++shows;
  }
  int ProgressMax() const override { return progressMax; }
  bool choicesEnabled = true;
  void SetChoicesEnabled(bool enabled) override { choicesEnabled = enabled; }

protected:
  void DoSetProgressMax(int max) override {
    calls.push_back("SetProgressMax " + std::to_string(max));
    progressMax = max;
  }
};

// While it lives, every TForm1 gets a RecordingView; Last() is the newest.
class ScopedRecordingViews {
public:
  ScopedRecordingViews()
      : previous_(SetViewFactory([this] {
          auto view = std::make_unique<RecordingView>();
          last_ = view.get();
          lastLog_.clear();
          view->onDestroy = [this](const RecordingView& gone) {
            lastLog_ = gone.LogLines();
            if (last_ == &gone) last_ = nullptr;
          };
          return view;
        })) {}
  ~ScopedRecordingViews() { SetViewFactory(std::move(previous_)); }
  ScopedRecordingViews(const ScopedRecordingViews&) = delete;
  ScopedRecordingViews& operator=(const ScopedRecordingViews&) = delete;

  // Valid while the form that owns it lives.
  RecordingView& Last() const { return *last_; }
  // The newest view's log, also once its form is gone (a construction that failed).
  std::vector<std::string> LastLog() const { return last_ ? last_->LogLines() : lastLog_; }

private:
  TViewFactory previous_;
  RecordingView* last_ = nullptr;
  std::vector<std::string> lastLog_;
};

// While it lives, win::MessageBoxA records its boxes and answers IDOK instead of showing them.
class ScopedMessageBoxRecorder {
public:
  struct Box {
    std::string text;
    std::string caption;
    unsigned type;
  };

  ScopedMessageBoxRecorder()
      : previous_(platform::SetMessageBoxHook(
            [this](win::HWND, const std::string& text, const std::string& caption, win::UINT type) {
              boxes.push_back({text, caption, type});
              return IDOK;
            })) {}
  ~ScopedMessageBoxRecorder() { platform::SetMessageBoxHook(std::move(previous_)); }
  ScopedMessageBoxRecorder(const ScopedMessageBoxRecorder&) = delete;
  ScopedMessageBoxRecorder& operator=(const ScopedMessageBoxRecorder&) = delete;

  std::vector<Box> boxes;

private:
  platform::MessageBoxHook previous_;
};

} // namespace testview
