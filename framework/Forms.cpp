#include "framework/Forms.h"

#include "platform/msgbox.h"
#include "platform/msgloop.h"
#include "platform/win32.h"

namespace {
TApplication theApplication;
}
TApplication* Application = &theApplication;

void TForm::Closed() {
  auto* app = dynamic_cast<TApplication*>(Owner);
  if (app && app->MainForm == this) app->Terminate();
}

TApplication::~TApplication() {
  DestroyForms();
}

void TApplication::DestroyForms() {
  // Later forms go first; the main form, created first, is the last to go.
  while (!forms_.empty()) {
    if (MainForm == forms_.back().get()) MainForm = nullptr;
    forms_.pop_back();
  }
}

void TApplication::Initialize() {
  platform::InitializeMessageLoop([] { Application->HandleException(Application); });
}

void TApplication::ProcessMessages() {
  platform::ProcessMessages();
}

void TApplication::HandleMessage() {
  platform::WaitAndProcessMessages();
}

void TApplication::Run() {
  if (!MainForm) return;
  MainForm->Show();
  if (!terminated_) platform::RunMessageLoop();
  // Closing the main form ends the program: its window and components go now, while the
  // message loop's machinery still exists.
  DestroyForms();
}

void TApplication::Terminate() {
  terminated_ = true;
  platform::QuitMessageLoop(0);
}

void TApplication::HandleException(TObject*) {
  if (!std::current_exception()) return;
  platform::CancelMouseCapture();
  try {
    throw;
  } catch (const EAbort&) {
  } catch (const Exception& E) {
    ShowException(E);
  } catch (...) {
    ShowException(Exception());
  }
}

void TApplication::ShowException(const std::exception& E) {
  const auto* framework = dynamic_cast<const Exception*>(&E);
  const std::string text = ErrorBoxText(framework ? framework->Message : std::string(E.what()));
  win::MessageBoxA(nullptr, text.c_str(), Title.c_str(), MB_OK | MB_ICONERROR);
}

std::string TApplication::ErrorBoxText(const std::string& message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
  return message;
}
