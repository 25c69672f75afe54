// The Qt window: widgets made from the App's rows, kept in step with the App's state.

#include "app/qt/front.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDBusConnection>
#include <QDesktopServices>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QStyleFactory>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

#include "app/qt/stack.h"
#include "app/qt/watcher.h"
#include "core/vocabulary.h"

namespace {

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
  };
  toolkit.after = [this](double seconds, std::function<void()> task) {
    QTimer::singleShot(int(seconds * 1000), this, std::move(task));
  };
  toolkit.open = [](const std::filesystem::path& document) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(document)));
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
  window.reset();
}

void Front::deliver() {
  inbox->drain();
}

void Front::build() {
  // The window and its scrolling frame.
  window = std::make_unique<QWidget>();
  window->setWindowTitle(text(app.words.title));
  window->resize(windowWidth, windowHeight);
  window->setMinimumSize(minimumWidth, minimumHeight);
  if (const QScreen* screen = QApplication::primaryScreen())
    window->move(screen->availableGeometry().center() - window->rect().center());
  window->setAutoFillBackground(true);
  paint(window.get(), QPalette::Window, colour(windowColour));

  auto* frame = new QVBoxLayout(window.get());
  frame->setContentsMargins(0, 0, 0, 0);
  auto* scroll = new QScrollArea;
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setWidgetResizable(true);
  scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  paint(scroll->viewport(), QPalette::Window, colour(columnColour));
  frame->addWidget(scroll);

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
  refresh();
}

QWidget* Front::make(const Row& row) {
  switch (row.kind) {
    case Kind::text:
    case Kind::status: {
      auto* label = new QLabel(text(row.kind == Kind::status ? app.status : row.text));
      label->setWordWrap(true);
      // Statuses carry names from the device; every text is shown as written, never as markup.
      label->setTextFormat(Qt::PlainText);
      if (row.kind == Kind::status) {
        status = label;
      } else {
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
      auto* button = new QPushButton(text(row.text).replace('&', "&&"));
      if (row.look != Look::standard)
        tint(button, QPalette::ButtonText, colour(accentColour));
      if (row.look == Look::prominent) {
        tint(button, QPalette::Button, colour(accentColour));
        tint(button, QPalette::ButtonText, Qt::white);
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
      auto* menu = new QComboBox;
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
  status->setText(text(app.status));
  review->setChecked(app.review);
  verified->setChecked(app.verified);
  for (std::size_t i = 0; i < menus.size(); ++i)
    menus[i]->setCurrentIndex(app.menus.at(i));
  scope->setCurrentIndex(app.scope);
  for (const auto& [control, row] : controls)
    control->setEnabled(app.enabled(*row));
}
