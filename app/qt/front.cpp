// The Qt window: widgets made from the App's rows, kept in step with the App's state.

#include "app/qt/front.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDBusConnection>
#include <QFile>
#include <QIcon>
#include <QLabel>
#include <QMainWindow>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QStyle>
#include <QStyleFactory>
#include <QTextBrowser>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

#include "app/place.h"
#include "app/qt/opener.h"
#include "app/qt/stack.h"
#include "app/qt/watcher.h"
#include "core/vocabulary.h"

namespace {

// A pop-up that leaves the mouse wheel to the column unless it has the keyboard focus: a turn of
// the wheel while scrolling past it never changes a pedal's action. Ignored, the wheel event
// goes on to the scroll area.
class Choice : public QComboBox {
 public:
  Choice() { setFocusPolicy(Qt::StrongFocus); }

 protected:
  void wheelEvent(QWheelEvent* event) override {
    if (!hasFocus()) {
      event->ignore();
      return;
    }
    QComboBox::wheelEvent(event);
  }
};

// A push button that Return and Enter press as Space does; a plain window has no default button
// to take them. A prominent one is filled with exactly its palette's button colour (the accent)
// and titled in its button text colour (white, 4.8 : 1 on the accent), not the style's gradient
// of them; pressed it darkens, focused it gets a ring in the text colour, disabled it takes the
// style's dimmed colours.
class Button : public QPushButton {
 public:
  using QPushButton::QPushButton;
  bool prominent = false;

 protected:
  void paintEvent(QPaintEvent* event) override {
    if (!prominent) {
      QPushButton::paintEvent(event);
      return;
    }
    const QPalette::ColorGroup group = isEnabled() ? QPalette::Active : QPalette::Disabled;
    const QColor fill = palette().color(group, QPalette::Button);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(1, 1, -1, -1);
    painter.setPen(QPen(fill.darker(130), 1));
    painter.setBrush(isDown() ? fill.darker(120) : fill);
    painter.drawRoundedRect(box, 3, 3);
    if (hasFocus()) {
      painter.setPen(QPen(
          QColor::fromRgbF(float(textColour.red), float(textColour.green), float(textColour.blue)),
          2));
      painter.setBrush(Qt::NoBrush);
      painter.drawRoundedRect(box.adjusted(1.5, 1.5, -1.5, -1.5), 2, 2);
    }
    painter.setPen(palette().color(group, QPalette::ButtonText));
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextShowMnemonic, text());
  }

  void keyPressEvent(QKeyEvent* event) override {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
      animateClick();
      return;
    }
    QPushButton::keyPressEvent(event);
  }
};

// The status line as assistive technologies see it: an alert whose name is the message, so a
// screen reader speaks each new message while the focus stays where it is.
class StatusAccessible : public QAccessibleWidget {
 public:
  explicit StatusAccessible(QWidget* label) : QAccessibleWidget(label, QAccessible::AlertMessage) {}

  QString text(QAccessible::Text kind) const override {
    if (kind == QAccessible::Name)
      return static_cast<const QLabel*>(widget())->text();
    return QAccessibleWidget::text(kind);
  }
};

const char* const statusName = "status";

QAccessibleInterface* accessibleStatus(const QString& key, QObject* object) {
  if (key == "QLabel" && object->objectName() == statusName)
    return new StatusAccessible(static_cast<QWidget*>(object));
  return nullptr;
}

// Tells assistive technologies that the status line shows a new message (the label itself
// reports its new name): the alert is shown anew, which screen readers speak without moving the
// focus.
void announce(QLabel* status) {
  QAccessibleEvent shown(status, QAccessible::ObjectShow);
  QAccessible::updateAccessibility(&shown);
}

QColor colour(const Rgb& rgb) {
  return QColor::fromRgbF(float(rgb.red), float(rgb.green), float(rgb.blue));
}

QString text(std::string_view words) {
  return QString::fromUtf8(words.data(), qsizetype(words.size()));
}

void paint(QWidget* widget, QPalette::ColorRole role, const QColor& colour) {
  QPalette palette = widget->palette();
  palette.setColor(role, colour);
  widget->setPalette(palette);
}

// Colours a control while it is enabled; disabled, it keeps the style's dimmed look, so a button
// that cannot be used never looks like one that can.
void tint(QWidget* widget, QPalette::ColorRole role, const QColor& colour) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Active, role, colour);
  palette.setColor(QPalette::Inactive, role, colour);
  widget->setPalette(palette);
}

std::vector<std::string> words(const QStringList& list) {
  std::vector<std::string> all;
  for (const QString& item : list)
    all.push_back(item.toStdString());
  return all;
}

}  // namespace

// Tasks travel from other threads through this box, under a lock of our own, and are then run on
// the main thread by a queued call. The box outlives the Front: once the Front is gone its
// `target` is empty and tasks are dropped.
struct Front::Inbox {
  std::mutex lock;
  Front* target = nullptr;
  std::deque<std::function<void()>> items;

  // The queued call carries nothing but a name, so every value crosses under `lock`.
  void post(std::function<void()> item) {
    const std::lock_guard<std::mutex> hold(lock);
    if (target == nullptr)
      return;
    items.push_back(std::move(item));
    QMetaObject::invokeMethod(target, "deliver", Qt::QueuedConnection);
  }

  void drain() {
    std::deque<std::function<void()>> taken;
    {
      const std::lock_guard<std::mutex> hold(lock);
      taken.swap(items);
    }
    for (auto& item : taken)
      item();
  }
};

ContentStack::ContentStack(QWidget* parent) : QWidget(parent), rows(new QVBoxLayout(this)) {
  rows->setSpacing(spacing);
  rows->setContentsMargins(inset, inset, inset, inset);
}

void ContentStack::append(QWidget* row) {
  rows->addWidget(row, 0, Qt::AlignLeft);
}

void ContentStack::appendWide(QWidget* row) {
  rows->addWidget(row);
}

void ContentStack::finish() {
  rows->addStretch(1);
}

Front::Front(const QStringList& arguments)
    : app(words(arguments), QCoreApplication::applicationDirPath().toStdString()),
      inbox(std::make_shared<Inbox>()) {
  static const bool factory = (QAccessible::installFactory(accessibleStatus), true);
  (void)factory;
  inbox->target = this;
  Toolkit& toolkit = app.toolkit;
  toolkit.look = [] {
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    QApplication::setPalette(QApplication::style()->standardPalette());
  };
  toolkit.build = [this] { build(); };
  toolkit.changed = [this] { refresh(); };
  toolkit.dispatch = [box = inbox](std::function<void()> task) { box->post(std::move(task)); };
  toolkit.observe = [this](std::function<void()> task) {
    watcher = std::make_unique<Watcher>(QDBusConnection::systemBus(), QDBusConnection::sessionBus(),
                                        std::move(task));
  };
  toolkit.every = [this](double seconds, std::function<void()> task) {
    timer = new QTimer(this);
    timer->setInterval(int(seconds * 1000));
    connect(timer, &QTimer::timeout, this, std::move(task));
    timer->start();
  };
  toolkit.cancel = [this] {
    if (timer != nullptr)
      timer->stop();
  };
  toolkit.raise = [this] {
    window->show();
    window->raise();
    window->activateWindow();
    // The keyboard starts on the first control, and its focus is drawn from the start, as after a
    // Tab: someone working by keyboard sees where they are.
    for (const auto& [control, row] : controls) {
      if (control->isEnabled() && (control->focusPolicy() & Qt::TabFocus)) {
        control->setFocus(Qt::ActiveWindowFocusReason);
        window->setAttribute(Qt::WA_KeyboardFocusChange);
        break;
      }
    }
    // The window manager's frame is known only once it has framed the window: then the window
    // is placed again with it, so its title bar stays on the screen.
    placing = 50;
    auto* check = new QTimer(window.get());
    check->setInterval(20);
    connect(check, &QTimer::timeout, this, [this, check] {
      const bool framed = window->frameGeometry() != window->geometry();
      if (framed)
        place();
      if (framed || --placing <= 0)
        check->deleteLater();
    });
    check->start();
  };
  toolkit.after = [this](double seconds, std::function<void()> task) {
    QTimer::singleShot(int(seconds * 1000), this, std::move(task));
  };
  toolkit.open = [this](const std::filesystem::path& document) {
    // When no program of the desktop opens it, the window shows the guide itself.
    const QString path = QString::fromStdString(document.string());
    openDocument(this, path, [this, path] {
      QFile file(path);
      if (file.open(QIODevice::ReadOnly))
        present(guide, "Setup & recovery guide", QString::fromUtf8(file.readAll()), true);
    });
    return true;
  };
  toolkit.inform = [this](const std::string& title, const std::string& words) {
    present(access, QString::fromStdString(title), QString::fromStdString(words), false);
  };
  toolkit.picture = [this](const std::string& path) {
    const QPixmap picture = window->grab();
    if (!picture.isNull())
      picture.save(QString::fromLocal8Bit(path.c_str()), "PNG");
  };
  toolkit.quit = [] { QCoreApplication::quit(); };
  connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { app.terminate(); });
}

Front::~Front() {
  // The termination steps run while every widget still exists; then tasks still on their way
  // are dropped with the Front.
  app.terminate();
  std::deque<std::function<void()>> dropped;
  {
    const std::lock_guard<std::mutex> hold(inbox->lock);
    inbox->target = nullptr;
    dropped.swap(inbox->items);
  }
  watcher.reset();
  guide.reset();
  access.reset();
  window.reset();
}

void Front::deliver() {
  inbox->drain();
}

void Front::build() {
  // The window and its scrolling frame.
  // A main window, so assistive technologies see a frame with the window's title.
  auto* main = new QMainWindow;
  window.reset(main);
  window->setWindowTitle(text(app.words.title));
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128, 256})
    icon.addFile(QString(":/quillfen/quillfen-%1.png").arg(size), QSize(size, size));
  window->setWindowIcon(icon);
  window->resize(windowWidth, windowHeight);
  window->setMinimumSize(minimumWidth, minimumHeight);
  window->setAutoFillBackground(true);
  paint(window.get(), QPalette::Window, colour(windowColour));

  auto* scroll = new QScrollArea;
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setWidgetResizable(true);
  scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  // The frame itself is no stop of the keyboard: Tab goes from control to control, and the
  // column scrolls to the focused one.
  scroll->setFocusPolicy(Qt::NoFocus);
  paint(scroll->viewport(), QPalette::Window, colour(columnColour));
  main->setCentralWidget(scroll);

  // The column fills the visible width, so it scrolls only vertically.
  auto* column = new ContentStack;
  column->setAutoFillBackground(true);
  paint(column, QPalette::Window, colour(columnColour));
  scroll->setWidget(column);

  for (const Row& row : app.rows) {
    QWidget* made = make(row);
    // Texts and the status line take the column's width and wrap within it; controls keep their
    // natural width.
    if (row.kind == Kind::text || row.kind == Kind::status)
      column->appendWide(made);
    else
      column->append(made);
  }
  column->finish();

  // Rows that cannot wrap (check boxes, buttons, pop-ups) in the desktop's font: the window is
  // never so narrow that one is cut off at the right.
  int widest = 0;
  for (const auto& [control, row] : controls)
    widest = std::max(widest, control->sizeHint().width());
  window->setMinimumWidth(minimumWidthFor(widest, scroll->verticalScrollBar()->sizeHint().width()));
  place();
  refresh();
}

void Front::place() {
  // Qt's offscreen platform has no real screen to fit: the window keeps its design size there,
  // as the startup check's picture shows it.
  if (QGuiApplication::platformName() == "offscreen")
    return;
  const QScreen* screen = window->screen() ? window->screen() : QApplication::primaryScreen();
  if (screen == nullptr)
    return;
  const QRect area = screen->availableGeometry();
  const QRect outer = window->frameGeometry();
  const QRect inner = window->geometry();
  const Margins frame{inner.left() - outer.left(), inner.top() - outer.top(),
                      outer.right() - inner.right(), outer.bottom() - inner.bottom()};
  const Box box = ::place({area.x(), area.y(), area.width(), area.height()}, frame,
                          window->minimumWidth(), window->minimumHeight());
  window->setGeometry(box.x, box.y, box.width, box.height);
}

void Front::show() {
  if (!window)
    return;
  window->setWindowState((window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
  window->show();
  window->raise();
  window->activateWindow();
}

void Front::present(std::unique_ptr<QMainWindow>& shown, const QString& title, const QString& words,
                    bool markdown) {
  if (!shown) {
    shown = std::make_unique<QMainWindow>();
    auto* browser = new QTextBrowser;
    browser->setOpenExternalLinks(true);
    shown->setCentralWidget(browser);
    shown->setWindowIcon(window->windowIcon());
    shown->resize(640, 520);
    shown->move(window->geometry().center() - shown->rect().center());
    // Escape closes it, as it does a dialog.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), shown.get());
    connect(escape, &QShortcut::activated, shown.get(), &QWidget::close);
  }
  shown->setWindowTitle("Quillfen \u00b7 " + title);
  auto* browser = static_cast<QTextBrowser*>(shown->centralWidget());
  browser->setAccessibleName(title);
  if (markdown)
    browser->setMarkdown(words);
  else
    browser->setPlainText(words);
  shown->show();
  shown->raise();
  shown->activateWindow();
}

QWidget* Front::make(const Row& row) {
  switch (row.kind) {
    case Kind::text:
    case Kind::status: {
      // Named before its text is set: the text's accessibility event already asks for the
      // label's accessible interface, which then stays as made.
      auto* label = new QLabel;
      if (row.kind == Kind::status)
        label->setObjectName(statusName);
      label->setText(text(row.kind == Kind::status ? app.status : row.text));
      label->setWordWrap(true);
      // Statuses carry names from the device; every text is shown as written, never as markup.
      label->setTextFormat(Qt::PlainText);
      if (row.kind == Kind::status) {
        status = label;
      } else {
        lastText = label;
        QFont font = label->font();
        font.setPixelSize(row.size);
        label->setFont(font);
        paint(label, QPalette::WindowText,
              colour(row.colour == Colour::accent ? accentColour : textColour));
      }
      return label;
    }
    case Kind::button: {
      // "&" in a button's text marks a keyboard mnemonic; doubled, it shows as itself.
      auto* button = new Button(text(row.text).replace('&', "&&"));
      if (row.look != Look::standard)
        tint(button, QPalette::ButtonText, colour(accentColour));
      if (row.look == Look::prominent) {
        tint(button, QPalette::Button, colour(accentColour));
        tint(button, QPalette::ButtonText, Qt::white);
        button->prominent = true;
      }
      if (row.action == Action::learn)
        button->setProperty("tag", row.tag);
      connect(button, &QPushButton::clicked, this, [this, &row] { app.run(row.action, row.tag); });
      buttons[text(row.text)] = button;
      controls.emplace_back(button, &row);
      return button;
    }
    case Kind::review:
    case Kind::verified: {
      auto* box = new QCheckBox(text(row.text));
      bool& state = row.kind == Kind::review ? app.review : app.verified;
      connect(box, &QCheckBox::toggled, this, [&state](bool checked) { state = checked; });
      (row.kind == Kind::review ? review : verified) = box;
      controls.emplace_back(box, &row);
      return box;
    }
    case Kind::menu:
    case Kind::scope: {
      auto* menu = new Choice;
      // The text row above names the pop-up: the pedal's name, or the click guard's heading.
      if (lastText != nullptr)
        lastText->setBuddy(menu);
      int* selected = &app.scope;
      if (row.kind == Kind::menu) {
        for (auto action : actions)
          menu->addItem(QString::fromStdString(actionTitle(action)));
        selected = &app.menus.at(std::size_t(row.tag));
        menus.push_back(menu);
      } else {
        for (auto title : scopeTitles)
          menu->addItem(text(title));
        scope = menu;
      }
      menu->setCurrentIndex(*selected);
      connect(menu, &QComboBox::currentIndexChanged, this,
              [selected](int index) { *selected = index; });
      controls.emplace_back(menu, &row);
      return menu;
    }
  }
  return nullptr;
}

void Front::refresh() {
  if (!window)
    return;
  if (const QString message = text(app.status); status->text() != message) {
    status->setText(message);
    announce(status);
  }
  review->setChecked(app.review);
  verified->setChecked(app.verified);
  for (std::size_t i = 0; i < menus.size(); ++i)
    menus[i]->setCurrentIndex(app.menus.at(i));
  scope->setCurrentIndex(app.scope);
  for (const auto& [control, row] : controls)
    control->setEnabled(app.enabled(*row));
}
