#include "framework/Forms.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "support/recording_view.h"
#include "support/run_later.h"

using testview::ScopedMessageBoxRecorder;

TEST(ErrorBoxText, FullStopOnlyAfterCharactersThatSortAfterIt) {
  EXPECT_EQ(TApplication::ErrorBoxText("Cannot create C:\\Corvane\\"),
            "Cannot create C:\\Corvane\\.");
  EXPECT_EQ(TApplication::ErrorBoxText("abc"), "abc.");
  EXPECT_EQ(TApplication::ErrorBoxText("code 7"), "code 7.");
  EXPECT_EQ(TApplication::ErrorBoxText("why?"), "why?.");
  EXPECT_EQ(TApplication::ErrorBoxText("a:"), "a:.");
  EXPECT_EQ(TApplication::ErrorBoxText("Done."), "Done.");
  EXPECT_EQ(TApplication::ErrorBoxText("Stop!"), "Stop!");
  EXPECT_EQ(TApplication::ErrorBoxText("(x)"), "(x)");
  EXPECT_EQ(TApplication::ErrorBoxText("a "), "a ");
  EXPECT_EQ(TApplication::ErrorBoxText("a-"), "a-");  // '-' is just before '.'
  EXPECT_EQ(TApplication::ErrorBoxText("a/"), "a/."); // '/' is just after it
  EXPECT_EQ(TApplication::ErrorBoxText(""), "");
  EXPECT_EQ(TApplication::ErrorBoxText("\xE9"), "\xE9."); // high bytes sort after it too
}

namespace {
// Throws what it is given, inside a catch block that hands it to HandleException.
template <class E> void Handle(TApplication& app, E error) {
  try {
    throw error;
  } catch (...) {
    app.HandleException(nullptr);
  }
}
} // namespace

TEST(HandleException, ShowsFrameworkErrorsDropsAbortsAndBlanksTheRest) {
  ScopedMessageBoxRecorder boxes;
  TApplication app;
  app.Title = "Corvane Setup";
  Handle(app, Exception("Cannot create C:\\Corvane\\"));
  Handle(app, EAbort("cancelled"));
  Handle(app, EFCreateError("Cannot create file x"));
  Handle(app, std::runtime_error("not ours"));
  Handle(app, 42);
  ASSERT_EQ(boxes.boxes.size(), 4u);
  EXPECT_EQ(boxes.boxes[0].text, "Cannot create C:\\Corvane\\.");
  EXPECT_EQ(boxes.boxes[0].caption, "Corvane Setup");
  EXPECT_EQ(boxes.boxes[0].type, unsigned(MB_OK | MB_ICONERROR));
  EXPECT_EQ(boxes.boxes[1].text, "Cannot create file x.");
  EXPECT_EQ(boxes.boxes[2].text, "");
  EXPECT_EQ(boxes.boxes[3].text, "");
}

TEST(HandleException, OutsideACatchBlockDoesNothing) {
  ScopedMessageBoxRecorder boxes;
  TApplication app;
  app.HandleException(nullptr);
  EXPECT_TRUE(boxes.boxes.empty());
}

namespace {
class TTestForm : public TForm {
public:
  explicit TTestForm(TComponent* owner) : TForm(owner) { ++created; }
  ~TTestForm() override { ++destroyed; }
  void Show() override {
    ++shown;
    if (onShow) onShow(*this);
  }
  void CloseWindow() { Closed(); }

  static inline int created = 0, destroyed = 0, shown = 0;
  static inline std::function<void(TTestForm&)> onShow;
};

class TFailingForm : public TForm {
public:
  explicit TFailingForm(TComponent* owner) : TForm(owner) { throw Exception("Cannot create X"); }
};
} // namespace

TEST(CreateForm, FirstFormIsTheMainFormAndTheApplicationOwnsIt) {
  TTestForm::created = TTestForm::destroyed = 0;
  {
    TApplication app;
    TTestForm* first = nullptr;
    TTestForm* second = nullptr;
    app.CreateForm(first);
    app.CreateForm(second);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(app.MainForm, first);
    EXPECT_EQ(second->Owner, &app);
  }
  EXPECT_EQ(TTestForm::created, 2);
  EXPECT_EQ(TTestForm::destroyed, 2);
}

TEST(CreateForm, FailedConstructionClearsTheReferenceAndPassesTheException) {
  TApplication app;
  TFailingForm* form = reinterpret_cast<TFailingForm*>(&app); // anything but null
  EXPECT_THROW(app.CreateForm(form), Exception);
  EXPECT_EQ(form, nullptr);
  EXPECT_EQ(app.MainForm, nullptr);
}

TEST(Run, ShowsTheMainFormAndEndsWhenItCloses) {
  TTestForm::created = TTestForm::destroyed = TTestForm::shown = 0;
  ScopedMessageBoxRecorder boxes;
  TApplication app;
  TTestForm* form = nullptr;
  app.CreateForm(form);
  // While the loop runs: a handler fails, the loop goes on, and then the window is closed.
  std::unique_ptr<testsupport::RunLater> later;
  TTestForm::onShow = [&later](TTestForm& f) {
    later = std::make_unique<testsupport::RunLater>(std::chrono::milliseconds(1), [&f] {
      testview::RecordingView view;
      view.OnButton1Click = [] { throw Exception("boom"); };
      view.ClickButton1();
      f.CloseWindow();
    });
  };
  app.Run();
  TTestForm::onShow = nullptr;
  EXPECT_EQ(TTestForm::shown, 1);
  EXPECT_EQ(TTestForm::destroyed, 1); // closing the main form destroyed it
  EXPECT_EQ(app.MainForm, nullptr);
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].text, "boom.");
}

TEST(Run, WithoutMainFormReturnsAtOnce) {
  TApplication app;
  app.Run();
  EXPECT_FALSE(app.Terminated());
}
