// The Qt view of the installer window.
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTextCursor>
#include <QWidget>
#include <algorithm>
#include <map>
#include <vector>

#include "installer/view.h"
#include "platform/widgets_posix.h"
#include "platform/win32.h"

namespace {

// The window needs a widget application, which must exist before the message loop starts.
const bool widgetsInUse = (platform::UseWidgets(), true);

using namespace form1_layout;

QString FromText(const std::string& s) {
  return QString::fromLocal8Bit(s.data(), qsizetype(s.size()));
}

QFont MakeFont(const TFontSpec& item) {
  QFont font{QString::fromLatin1(item.Name)};
  font.setPixelSize(item.PixelHeight);
  font.setBold(item.Bold);
  // "MS Sans Serif" is rarely installed: let the font machinery pick a sans-serif instead.
  font.setStyleHint(QFont::SansSerif);
  return font;
}

QIcon MakeIcon() {
  QPixmap pixmap(32, 32);
  pixmap.fill(QColor::fromRgb(SkyBlue));
  QPainter painter(&pixmap);
  painter.setPen(QPen(QColor(0x1F, 0x4E, 0x8C), 2));
  painter.drawRect(1, 1, 29, 29);
  QFont font = painter.font();
  font.setPixelSize(22);
  font.setBold(true);
  painter.setFont(font);
  painter.drawText(pixmap.rect(), Qt::AlignCenter, QStringLiteral("C"));
  return QIcon(pixmap);
}

class TQtInstallerView;

// The top-level window: reports its closing to the view.
class TForm1Window : public QWidget {
public:
  explicit TForm1Window(TQtInstallerView* view) : view_(view) {}

protected:
  void closeEvent(QCloseEvent* event) override;

private:
  TQtInstallerView* view_;
};

class TQtInstallerView : public TInstallerView, public QObject {
public:
  TQtInstallerView();
  ~TQtInstallerView() override;

  void ClearLog() override { memo_->clear(); }

  void AddLogLine(const std::string& text) override {
    QString line = FromText(text);
    line.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QTextCursor cursor = memo_->textCursor();
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(line + QLatin1Char('\n'));
    memo_->setTextCursor(cursor);
    memo_->ensureCursorVisible();
  }

  void SetProgressVisible(bool visible) override { bar_->setVisible(visible); }

  void SetProgressPosition(int position) override {
    position_ = position;
    ApplyProgress();
  }

  bool IsChecked(TCheckBoxId box) const override {
    return (box == TCheckBoxId::CheckBox1 ? checkBox1_ : checkBox2_)->isChecked();
  }

  void SetWindowCaption(const std::string& text) override {
    window_->setWindowTitle(FromText(text));
  }

  int ShowMessageBox(const std::string& text, const std::string& caption) override {
    return win::MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK);
  }

  void Show() override {
    if (!shown_) {
      shown_ = true;
      // Centred on the desktop by the window's outer size, as the stored layout asks.
      if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect desktop = screen->geometry();
        window_->move(desktop.x() + (desktop.width() - OuterWidth) / 2,
                      desktop.y() + (desktop.height() - OuterHeight) / 2);
      }
    }
    window_->show();
  }

  int ProgressMax() const override { return max_; }

  void SetChoicesEnabled(bool enabled) override {
    for (const char* name : {"CheckBox1", "CheckBox2", "Button1"})
      controls_.at(name)->setEnabled(enabled);
  }

  void WindowClosed() { FireClosed(); }

protected:
  void DoSetProgressMax(int max) override {
    max_ = max;
    ApplyProgress();
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Resize) Arrange(static_cast<QWidget*>(watched));
    return false;
  }

private:
  void Build();
  void Arrange(QWidget* parent);
  void SetTabOrder();

  void ApplyProgress() {
    // Qt ignores values outside the range and animates an empty range; the Windows bar shows
    // such a position at the nearer end and draws 0..0 as an empty bar.
    const int top = max_ == 0 ? 1 : max_;
    const int value = max_ == 0 ? (position_ > 0 ? 1 : 0) : std::clamp(position_, 0, max_);
    // A download moves the bar once a block. It shows no text: a value that fills no further
    // pixel need not reach it, and one that does is painted with the next pass of the message
    // loop, not on the spot while the download waits for the display.
    if (top == bar_->maximum() && value != 0 && value != top &&
        FilledPixels(value, top) == FilledPixels(bar_->value(), top))
      return;
    bar_->setUpdatesEnabled(false);
    bar_->setRange(0, top);
    bar_->setValue(value);
    bar_->setUpdatesEnabled(true); // schedules the paint
  }

  int FilledPixels(int value, int top) const {
    return static_cast<int>(int64_t{value} * bar_->width() / top);
  }

  std::unique_ptr<TForm1Window> window_;
  std::map<std::string, QWidget*> controls_;
  QProgressBar* bar_ = nullptr;
  QPlainTextEdit* memo_ = nullptr;
  QCheckBox* checkBox1_ = nullptr;
  QCheckBox* checkBox2_ = nullptr;
  int max_ = form1_layout::ProgressMax;
  int position_ = ProgressPosition;
  bool shown_ = false;
};

void TForm1Window::closeEvent(QCloseEvent* event) {
  if (view_->CloseIgnored) {
    event->ignore();
    return;
  }
  event->accept();
  view_->WindowClosed();
}

TQtInstallerView::TQtInstallerView() : window_(std::make_unique<TForm1Window>(this)) {
  Build();
}

TQtInstallerView::~TQtInstallerView() {
  for (auto& [name, widget] : controls_)
    widget->removeEventFilter(this);
  window_->removeEventFilter(this);
}

void TQtInstallerView::Build() {
  QWidget* window = window_.get();
  window->setObjectName(QStringLiteral("Form1"));
  window->setWindowTitle(QString::fromLatin1(Caption));
  window->setWindowIcon(MakeIcon());
  window->setFont(MakeFont(DefaultFont));
  QPalette windowPalette = window->palette();
  windowPalette.setColor(QPalette::Window, windowPalette.color(QPalette::Button));
  window->setPalette(windowPalette);
  window->setAutoFillBackground(true);
  window->resize(ClientWidth, ClientHeight);

  for (const TControlSpec& item : Controls) {
    QWidget* parent = item.Parent ? controls_.at(item.Parent) : window;
    QWidget* widget = nullptr;
    const QString text = QString::fromLatin1(item.Text);
    const std::string kind = item.Kind;
    if (kind == "Panel") {
      auto* panel = new QFrame(parent);
      panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
      panel->setLineWidth(PanelBevel);
      QPalette palette = panel->palette();
      palette.setColor(QPalette::Window, QColor::fromRgb(SkyBlue));
      panel->setPalette(palette);
      panel->setAutoFillBackground(true);
      panel->setFocusPolicy(Qt::NoFocus);
      panel->installEventFilter(this);
      widget = panel;
    } else if (kind == "ProgressBar") {
      bar_ = new QProgressBar(parent);
      bar_->setOrientation(Qt::Horizontal);
      bar_->setTextVisible(false);
      bar_->setFocusPolicy(Qt::NoFocus);
      bar_->setAccessibleName(QString::fromLatin1(ProgressName));
      widget = bar_;
    } else if (kind == "Memo") {
      memo_ = new QPlainTextEdit(parent);
      memo_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
      memo_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
      memo_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
      memo_->setReadOnly(false);
      memo_->setTabChangesFocus(true);
      memo_->setPlainText(text + QLatin1Char('\n'));
      memo_->setAccessibleName(QString::fromLatin1(LogName));
      widget = memo_;
    } else if (kind == "Label") {
      auto* label = new QLabel(text, parent);
      label->setFocusPolicy(Qt::NoFocus);
      if (item.Align == TAlign::Top) label->setAlignment(Qt::AlignCenter);
      widget = label;
    } else if (kind == "CheckBox") {
      auto* box = new QCheckBox(text, parent);
      box->setTristate(false);
      box->setChecked(false);
      (checkBox1_ ? checkBox2_ : checkBox1_) = box;
      widget = box;
    } else if (kind == "Button") {
      auto* button = new QPushButton(text, parent);
      // Enter presses it while it has the focus, and only then; Escape never does.
      button->setDefault(false);
      button->setAutoDefault(true);
      QObject::connect(button, &QPushButton::clicked, this, [this] { FireButton1Click(); });
      widget = button;
    }
    widget->setObjectName(QString::fromLatin1(item.Name));
    if (item.Font.Name) widget->setFont(MakeFont(item.Font));
    int width = item.Width;
    // Labels size themselves to their text, so another platform's wider glyphs do not clip it.
    if (kind == "Label" && item.Align == TAlign::None)
      width = std::max(width, widget->sizeHint().width());
    widget->setGeometry(item.Left, item.Top, width, item.Height);
    controls_[item.Name] = widget;
  }
  ApplyProgress();
  window->installEventFilter(this);
  Arrange(window);
  SetTabOrder();
}

// Docked controls share their parent's client area: top and bottom ones keep their height and
// follow the width, the client one takes what is left. Undocked ones keep their place.
void TQtInstallerView::Arrange(QWidget* parent) {
  const int inset = parent == window_.get() ? 0 : PanelBevel;
  QRect free(inset, inset, parent->width() - 2 * inset, parent->height() - 2 * inset);
  for (TAlign pass : {TAlign::Top, TAlign::Bottom, TAlign::Client}) {
    for (const TControlSpec& item : Controls) {
      QWidget* widget = controls_.at(item.Name);
      if (item.Align != pass || widget->parentWidget() != parent) continue;
      switch (pass) {
      case TAlign::Top:
        widget->setGeometry(free.left(), free.top(), free.width(), item.Height);
        free.setTop(free.top() + item.Height);
        break;
      case TAlign::Bottom:
        widget->setGeometry(free.left(), free.bottom() + 1 - item.Height, free.width(),
                            item.Height);
        free.setBottom(free.bottom() - item.Height);
        break;
      default:
        widget->setGeometry(free.left(), free.top(), free.width(), std::max(0, free.height()));
        break;
      }
    }
  }
}

// Focus moves by each parent's tab order, into a panel's controls where the panel stands.
void TQtInstallerView::SetTabOrder() {
  std::vector<QWidget*> order;
  auto visit = [&](auto&& self, QWidget* parent) -> void {
    std::vector<const TControlSpec*> children;
    for (const TControlSpec& item : Controls)
      if (item.TabOrder >= 0 && controls_.at(item.Name)->parentWidget() == parent)
        children.push_back(&item);
    std::stable_sort(children.begin(), children.end(),
                     [](auto* a, auto* b) { return a->TabOrder < b->TabOrder; });
    for (const TControlSpec* item : children) {
      QWidget* widget = controls_.at(item->Name);
      if (std::string(item->Kind) == "Panel")
        self(self, widget);
      else if (widget->focusPolicy() != Qt::NoFocus)
        order.push_back(widget);
    }
  };
  visit(visit, window_.get());
  for (size_t i = 1; i < order.size(); ++i)
    QWidget::setTabOrder(order[i - 1], order[i]);
}

} // namespace

std::unique_ptr<TInstallerView> CreatePlatformView() {
  return std::make_unique<TQtInstallerView>();
}
