// The real Qt window, on the offscreen platform.
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QFontInfo>
#include <QFrame>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <gtest/gtest.h>

#include <filesystem>

#include "installer/Cvnsetupmain.h"
#include "support/recording_view.h"
#include "support/testenv.h"

namespace {

QWidget* Form1Window() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->objectName() == "Form1") return w;
  return nullptr;
}

template <class T = QWidget> T* Control(const char* name) {
  QWidget* window = Form1Window();
  return window ? window->findChild<T*>(name) : nullptr;
}

class QtWindowTest : public ::testing::Test {
protected:
  QtWindowTest() : view_(CreatePlatformView()) {}
  QWidget& Window() { return *Form1Window(); }
  std::vector<std::string> MemoLines() {
    QString text = Control<QPlainTextEdit>("Memo1")->toPlainText();
    QStringList lines = text.split('\n');
    if (!lines.isEmpty() && lines.back().isEmpty()) lines.removeLast();
    std::vector<std::string> out;
    for (const QString& l : lines)
      out.push_back(l.toStdString());
    return out;
  }

  std::unique_ptr<TInstallerView> view_;
};

} // namespace

TEST_F(QtWindowTest, StoredLayout) {
  ASSERT_NE(Form1Window(), nullptr);
  EXPECT_EQ(Window().size(), QSize(463, 380));
  EXPECT_EQ(Window().windowTitle(), "CVN Installer - Updater");
  struct Expected {
    const char* name;
    QRect geometry;
    const char* parent;
  };
  const Expected expected[] = {
      {"Panel2", {0, 352, 463, 28}, "Form1"},   {"ProgressBar1", {1, 0, 461, 27}, "Panel2"},
      {"Memo1", {0, 181, 463, 171}, "Form1"},   {"Panel1", {0, 0, 463, 181}, "Form1"},
      {"Label1", {1, 1, 461, 26}, "Panel1"},    {"CheckBox1", {24, 40, 245, 20}, "Panel1"},
      {"Label2", {24, 64, 254, 18}, "Panel1"},  {"CheckBox2", {24, 116, 229, 20}, "Panel1"},
      {"Label3", {24, 144, 174, 18}, "Panel1"}, {"Button1", {352, 140, 75, 25}, "Panel1"},
  };
  for (const Expected& e : expected) {
    QWidget* w = Control(e.name);
    ASSERT_NE(w, nullptr) << e.name;
    if (qobject_cast<QLabel*>(w) && e.geometry.top() > 1) {
      // Free labels grow to their text, never shrink below the stored width.
      EXPECT_EQ(w->pos(), e.geometry.topLeft()) << e.name;
      EXPECT_EQ(w->height(), e.geometry.height()) << e.name;
      EXPECT_GE(w->width(), std::max(e.geometry.width(), w->sizeHint().width())) << e.name;
    } else {
      EXPECT_EQ(w->geometry(), e.geometry) << e.name;
    }
    EXPECT_EQ(w->parentWidget()->objectName(), e.parent) << e.name;
  }
  EXPECT_EQ(Control<QLabel>("Label1")->text(), "Please make your selections and click 'next'");
  EXPECT_EQ(Control<QLabel>("Label1")->alignment(), Qt::AlignCenter);
  EXPECT_EQ(Control<QLabel>("Label2")->text(), "This will install / update the wallet program");
  EXPECT_EQ(Control<QLabel>("Label3")->text(), "This will install the blockchain");
  EXPECT_EQ(Control<QCheckBox>("CheckBox1")->text(), "program");
  EXPECT_EQ(Control<QCheckBox>("CheckBox2")->text(), "blockchain");
  EXPECT_EQ(MemoLines(), std::vector<std::string>{"waiting..."});
}

TEST_F(QtWindowTest, InitialStateOfTheControls) {
  auto* bar = Control<QProgressBar>("ProgressBar1");
  EXPECT_EQ(bar->minimum(), 0);
  EXPECT_EQ(bar->maximum(), 100);
  EXPECT_EQ(bar->value(), 0);
  EXPECT_FALSE(bar->isHidden());
  EXPECT_FALSE(bar->isTextVisible());
  auto* memo = Control<QPlainTextEdit>("Memo1");
  EXPECT_FALSE(memo->isReadOnly());
  EXPECT_EQ(memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(memo->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_EQ(memo->lineWrapMode(), QPlainTextEdit::WidgetWidth);
  for (const char* name : {"CheckBox1", "CheckBox2"}) {
    EXPECT_FALSE(Control<QCheckBox>(name)->isChecked()) << name;
    EXPECT_FALSE(Control<QCheckBox>(name)->isTristate()) << name;
  }
  auto* button = Control<QPushButton>("Button1");
  EXPECT_EQ(button->text(), "Next");
  EXPECT_FALSE(button->isDefault());
}

TEST_F(QtWindowTest, FontsAndColours) {
  struct Expected {
    const char* name;
    int pixels;
    bool bold;
  };
  for (const Expected& e : {Expected{"Label1", 19, false}, Expected{"CheckBox1", 16, false},
                            Expected{"CheckBox2", 16, false}, Expected{"Label2", 13, false},
                            Expected{"Label3", 13, false}, Expected{"Button1", 16, true}}) {
    const QFont font = Control(e.name)->font();
    EXPECT_EQ(font.family(), "Open Sans") << e.name;
    EXPECT_EQ(font.pixelSize(), e.pixels) << e.name;
    EXPECT_EQ(font.bold(), e.bold) << e.name;
  }
  // Debian's fonts-open-sans provides the real face.
  EXPECT_EQ(QFontInfo(Control("Label1")->font()).family(), "Open Sans");
  // The window's default font is asked for by name; whatever stands in keeps its size.
  EXPECT_EQ(Window().font().family(), "MS Sans Serif");
  EXPECT_EQ(Window().font().pixelSize(), 11);
  EXPECT_EQ(Control("Memo1")->font().pixelSize(), 11);

  for (const char* name : {"Panel1", "Panel2"}) {
    auto* panel = Control<QFrame>(name);
    EXPECT_EQ(panel->palette().color(QPalette::Window), QColor(166, 202, 240)) << name;
    EXPECT_TRUE(panel->autoFillBackground()) << name;
    EXPECT_EQ(panel->frameShape(), QFrame::Panel) << name;
    EXPECT_EQ(panel->frameShadow(), QFrame::Raised) << name;
    EXPECT_EQ(panel->lineWidth(), 1) << name;
  }
  // Labels and check boxes show the panel through.
  EXPECT_FALSE(Control("CheckBox1")->autoFillBackground());
  EXPECT_FALSE(Control("Label2")->autoFillBackground());
  EXPECT_EQ(Window().palette().color(QPalette::Window),
            QApplication::palette().color(QPalette::Button));
  EXPECT_FALSE(Window().windowIcon().isNull());
}

TEST_F(QtWindowTest, FocusGoesThroughMemoBoxesAndButton) {
  std::vector<QString> order;
  QWidget* w = Control("Memo1");
  for (int i = 0; i < 4; ++i) {
    order.push_back(w->objectName());
    do {
      w = w->nextInFocusChain();
    } while (!(w->focusPolicy() & Qt::TabFocus));
  }
  EXPECT_EQ(order, (std::vector<QString>{"Memo1", "CheckBox1", "CheckBox2", "Button1"}));
  EXPECT_EQ(w->objectName(), "Memo1"); // and round again
  EXPECT_TRUE(Control<QPlainTextEdit>("Memo1")->tabChangesFocus());
  for (const char* name : {"Panel1", "Panel2", "ProgressBar1", "Label1", "Label2", "Label3"})
    EXPECT_EQ(Control(name)->focusPolicy(), Qt::NoFocus) << name;
}

// The log and the progress bar have no label beside them: a screen reader reads their names.
TEST_F(QtWindowTest, ScreenReadersNameTheLogAndTheProgressBar) {
  view_->Show();
  for (auto [control, name] : {std::pair{"Memo1", "Log"}, std::pair{"ProgressBar1", "Progress"}}) {
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(Control(control));
    ASSERT_NE(accessible, nullptr) << control;
    EXPECT_EQ(accessible->text(QAccessible::Name), name) << control;
  }
}

TEST_F(QtWindowTest, ResizeGivesAllHeightToTheLog) {
  view_->Show();
  Window().resize(700, 600);
  EXPECT_EQ(Control("Panel1")->geometry(), QRect(0, 0, 700, 181));
  EXPECT_EQ(Control("Panel2")->geometry(), QRect(0, 572, 700, 28));
  EXPECT_EQ(Control("Memo1")->geometry(), QRect(0, 181, 700, 391));
  EXPECT_EQ(Control("Label1")->geometry(), QRect(1, 1, 698, 26));
  EXPECT_EQ(Control("ProgressBar1")->geometry(), QRect(1, 0, 698, 27));
  EXPECT_EQ(Control("Button1")->geometry(), QRect(352, 140, 75, 25));
  EXPECT_EQ(Control("CheckBox2")->geometry(), QRect(24, 116, 229, 20));
}

TEST_F(QtWindowTest, CentredOnTheDesktopWhenFirstShown) {
  view_->Show();
  const QRect desktop = QGuiApplication::primaryScreen()->geometry();
  EXPECT_EQ(Window().pos(), QPoint(desktop.x() + (desktop.width() - 479) / 2,
                                   desktop.y() + (desktop.height() - 419) / 2));
  EXPECT_TRUE(Window().isVisible());
}

TEST_F(QtWindowTest, LogLines) {
  view_->ClearLog();
  EXPECT_EQ(Control<QPlainTextEdit>("Memo1")->toPlainText(), "");
  view_->AddLogLine("ticker is cvn");
  view_->AddLogLine("");
  view_->AddLogLine("first\r\nsecond");
  EXPECT_EQ(MemoLines(), (std::vector<std::string>{"ticker is cvn", "", "first", "second"}));
  // The insertion point ends after the last line.
  auto* memo = Control<QPlainTextEdit>("Memo1");
  EXPECT_EQ(memo->textCursor().position(), memo->document()->characterCount() - 1);
}

TEST_F(QtWindowTest, ProgressRange) {
  auto* bar = Control<QProgressBar>("ProgressBar1");
  EXPECT_THROW(view_->SetProgressMax(-1), EInvalidOperation);
  EXPECT_EQ(bar->maximum(), 100);

  view_->SetProgressMax(0);
  view_->SetProgressPosition(0);
  EXPECT_EQ(bar->value(), bar->minimum());
  EXPECT_NE(bar->maximum(), 0); // 0..0 would be Qt's busy animation, not an empty bar

  view_->SetProgressMax(6'000'000);
  view_->SetProgressPosition(3'000'000);
  EXPECT_EQ(bar->maximum(), 6'000'000);
  EXPECT_EQ(bar->value(), 3'000'000);

  view_->SetProgressMax(1000);
  view_->SetProgressPosition(5000); // past the end: a full bar
  EXPECT_EQ(bar->value(), 1000);
  view_->SetProgressPosition(-3);
  EXPECT_EQ(bar->value(), 0);

  view_->SetProgressVisible(false);
  EXPECT_TRUE(bar->isHidden());
  EXPECT_FALSE(Control("Panel2")->isHidden());
  view_->SetProgressVisible(true);
  EXPECT_FALSE(bar->isHidden());
}

// A download reports every 64 KiB block: the bar is painted when it grows by a pixel, not for
// every block.
TEST_F(QtWindowTest, ProgressPaintsNoMoreOftenThanTheBarMoves) {
  auto* bar = Control<QProgressBar>("ProgressBar1");
  view_->Show();
  QCoreApplication::processEvents();
  struct PaintCounter : QObject {
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::Paint) ++paints;
      return false;
    }
  } counter;
  bar->installEventFilter(&counter);
  const int blocks = 16384; // 1 GiB
  view_->SetProgressMax(blocks << 16);
  for (int i = 1; i <= blocks; ++i) {
    view_->SetProgressPosition(i << 16);
    if (i % 64 == 0) QCoreApplication::processEvents();
  }
  QCoreApplication::processEvents();
  bar->removeEventFilter(&counter);
  EXPECT_EQ(bar->value(), blocks << 16);
  EXPECT_GT(counter.paints, 0);
  EXPECT_LE(counter.paints, bar->width() + 2);
}

TEST_F(QtWindowTest, ChecksCaptionAndMessageBox) {
  Control<QCheckBox>("CheckBox2")->setChecked(true);
  EXPECT_FALSE(view_->IsChecked(TCheckBoxId::CheckBox1));
  EXPECT_TRUE(view_->IsChecked(TCheckBoxId::CheckBox2));

  view_->SetWindowCaption("Corvane Installer - Updater");
  EXPECT_EQ(Window().windowTitle(), "Corvane Installer - Updater");

  testview::ScopedMessageBoxRecorder boxes;
  EXPECT_EQ(view_->ShowMessageBox("Download failed", "Corvane"), IDOK);
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].text, "Download failed");
  EXPECT_EQ(boxes.boxes[0].caption, "Corvane");
  EXPECT_EQ(boxes.boxes[0].type, 0u);
}

TEST_F(QtWindowTest, ButtonAndCloseReachTheForm) {
  int clicks = 0, closes = 0;
  view_->OnButton1Click = [&] {
    ++clicks;
    throw Exception("Cannot create file C:\\Corvane\\cvnloader.exe");
  };
  view_->OnClosed = [&] { ++closes; };
  testview::ScopedMessageBoxRecorder boxes;
  Application->Title = "Corvane Setup";
  view_->Show();
  Control<QPushButton>("Button1")->click();
  Control<QPushButton>("Button1")->click(); // the window goes on after an error
  EXPECT_EQ(clicks, 2);
  ASSERT_EQ(boxes.boxes.size(), 2u);
  EXPECT_EQ(boxes.boxes[0].text, "Cannot create file C:\\Corvane\\cvnloader.exe.");
  EXPECT_EQ(boxes.boxes[0].caption, "Corvane Setup");
  Window().close();
  EXPECT_EQ(closes, 1);
}

TEST(QtWindowStartUp, TheUserSeesTheStartUpLogAndTheCaption) {
  testenv::TempDir tmp;
  testenv::ScopedEnv prefix("WINEPREFIX", tmp.path());
  testenv::ScopedEnv appData("APPDATA", "C:\\users\\tester\\AppData\\Roaming");
  std::filesystem::create_directories(tmp.path() + "/drive_c/users/tester/AppData/Roaming");
  TViewFactory previous = SetViewFactory(CreatePlatformView);
  {
    TForm1 form(nullptr);
    QWidget* window = Form1Window();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->windowTitle(), "Corvane Installer - Updater");
    const QString log = window->findChild<QPlainTextEdit*>("Memo1")->toPlainText();
    EXPECT_TRUE(log.startsWith("ticker is cvn\ninipath is Corvane\n"));
    EXPECT_FALSE(log.contains("waiting..."));
  }
  EXPECT_EQ(Form1Window(), nullptr); // the window goes with its form
  SetViewFactory(std::move(previous));
}

TEST(QtMessageBox, TextIsShownAsWrittenNotAsMarkup) {
  const std::string text = "'<b>80</b>' is not a valid integer value.";
  QString shown;
  Qt::TextFormat format = Qt::AutoText;
  QTimer::singleShot(0, [&] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
        shown = box->text();
        format = box->textFormat();
        box->accept();
      }
  });
  EXPECT_EQ(win::MessageBoxA(nullptr, text.c_str(), "Corvane Setup", MB_OK | MB_ICONERROR), IDOK);
  EXPECT_EQ(shown.toStdString(), text);
  EXPECT_EQ(format, Qt::PlainText);
}
