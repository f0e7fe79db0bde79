// The application object and the form base class.
#pragma once

#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "framework/Classes.h"

class TApplication;

// A top-level window. The form's owner is the application object that created it.
class TForm : public TComponent {
public:
  using TComponent::TComponent;

  // Makes the window visible; a form without a window of its own has nothing to show.
  virtual void Show() {}

protected:
  // Called by the form's window once it has been closed: closing the main form ends the program.
  void Closed();
};

class TApplication : public TComponent {
public:
  TApplication() : TComponent(nullptr) {}
  ~TApplication() override;

  // Brings up the message loop; exceptions that escape a message's handling go to HandleException.
  void Initialize();
  std::string Title;

  // Creates a form owned by the application; the first one becomes MainForm. When the
  // constructor throws, Reference is left empty and the exception passes on.
  template <class T> void CreateForm(T*& Reference);

  // Processes every pending message without waiting: the socket waits call this.
  void ProcessMessages();
  // Waits for a message and processes it (and whatever else is pending).
  void HandleMessage();
  // Shows MainForm and runs the message loop until the main form is closed or Terminate is
  // called, then destroys the forms. Without a main form it returns at once.
  void Run();
  void Terminate();
  bool Terminated() const { return terminated_; }

  // Call inside a catch block: EAbort is dropped, anything else is shown with ShowException;
  // an exception of another kind is shown as one with an empty message.
  void HandleException(TObject* Sender);
  // The standard error box: the message, with "." appended when it is not empty and its last
  // character sorts after "."; captioned with Title; error icon and OK.
  void ShowException(const std::exception& E);
  static std::string ErrorBoxText(const std::string& message);

  TForm* MainForm = nullptr;

private:
  void DestroyForms();

  std::vector<std::unique_ptr<TForm>> forms_;
  bool terminated_ = false;
};

template <class T> void TApplication::CreateForm(T*& Reference) {
  Reference = nullptr;
  auto form = std::make_unique<T>(this);
  Reference = form.get();
  if (!MainForm) MainForm = form.get();
  forms_.push_back(std::move(form));
}

extern TApplication* Application;
