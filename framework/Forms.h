// The application object and the form base class.
#pragma once

#include <exception>
#include <memory>
#include <string>

#include "framework/Classes.h"

class TForm : public TComponent {
public:
  using TComponent::TComponent;
};

class TApplication : public TComponent {
public:
  TApplication() : TComponent(nullptr) {}

  void Initialize() {}
  std::string Title;

  // Processes every pending message without waiting: the socket waits call this.
  void ProcessMessages();
  // Waits for a message and processes it (and whatever else is pending).
  void HandleMessage();
  // Runs the message loop until the main form is closed or Terminate is called.
  void Run();
  void Terminate();

  // Call inside a catch block: EAbort is dropped, anything else is shown with ShowException;
  // an exception of another kind is shown as one with an empty message.
  void HandleException(TObject* Sender);
  // The standard error box: the message, with "." appended when it is not empty and its last
  // character sorts after "."; captioned with Title; error icon and OK.
  void ShowException(const std::exception& E);
  static std::string ErrorBoxText(const std::string& message);

  TForm* MainForm = nullptr;
};

extern TApplication* Application;
