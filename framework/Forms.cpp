#include "framework/Forms.h"

#include "platform/msgloop.h"

namespace {
TApplication theApplication;
}
TApplication* Application = &theApplication;

void TApplication::ProcessMessages() { platform::ProcessMessages(); }

void TApplication::HandleMessage() { platform::WaitAndProcessMessages(); }

void TApplication::Run() { platform::RunMessageLoop(); }

void TApplication::Terminate() { platform::QuitMessageLoop(0); }

std::string TApplication::ErrorBoxText(const std::string& message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
  return message;
}
