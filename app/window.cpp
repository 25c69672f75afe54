// The window's layout: one scrolling column of rows that reads like a checklist.

#include "app/window.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSysInfo>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <string>
#include <utility>

#include "app/app.h"
#include "core/vocabulary.h"

namespace {

// Colours of the light look. Sizes below are in logical pixels, the desktop's points.
const QColor windowColour = QColor::fromRgbF(0.94f, 0.93f, 0.91f);
const QColor columnColour = QColor::fromRgbF(0.98f, 0.98f, 0.96f);
const QColor textColour = QColor::fromRgbF(0.2f, 0.22f, 0.19f);
const QColor accentColour = QColor::fromRgbF(0.78f, 0.28f, 0.04f);

constexpr int spacing = 16;
constexpr int inset = 24;

// The two buttons of the main path, filled with the accent colour.
const std::array<QString, 2> prominent{"Start isolated test", "Activate actions"};

// The guard-scope menu: item titles in the order of `scopes`.
const std::array<QString, 3> scopeTitles{
    "Off (default)", "All mouse buttons: left, middle, right & additional", "Right-click only"};

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

// The settings path as the user knows it: the home folder written as "~".
QString shortPath(const std::filesystem::path& file) {
  const QString path = QString::fromStdString(file.string());
  const QString home = QDir::homePath();
  if (home != "/" && path.startsWith(home + "/"))
    return "~" + path.mid(home.size());
  return path;
}

// Words that differ between the platforms; every other text is shared.
struct Wording {
  QString title;
  QString platform;
  QString recovery;
  QString shortcuts;
};

Wording wording() {
#ifdef __APPLE__
  return {"Quillfen · macOS developer preview", "MACOS · ARM64 · DEVELOPER PREVIEW",
          "Recovery: Control + Option + Shift + F12, Stop capture, or quit. A five-second UI "
          "heartbeat loss stops capture. Lock/session and sleep notifications stop capture. Never "
          "automatically reconnect or activate. Permission changes require inspection again.",
          "Space/Enter/F13–F20 are application shortcuts; assign them in your player for "
          "play/pause or seeking. There is no universal rewind or media integration. Scroll uses "
          "Quartz line events; targeting follows OS scroll/focus behavior."};
#else
  return {"Quillfen · Linux developer preview",
          "LINUX · " + QSysInfo::currentCpuArchitecture().toUpper() + " · DEVELOPER PREVIEW",
          "Recovery: Control + Alt + Shift + F12, Stop capture, or quit. A five-second UI "
          "heartbeat loss stops capture. Lock/session and sleep notifications stop capture. Never "
          "automatically reconnect or activate. Permission changes require inspection again.",
          "Space/Enter/F13–F20 are application shortcuts; assign them in your player for "
          "play/pause or seeking. There is no universal rewind or media integration. Scroll uses "
          "wheel line events; targeting follows OS scroll/focus behavior."};
#endif
}

}  // namespace

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

void App::build() {
  const Wording words = wording();

  // The window and its scrolling frame.
  window = std::make_unique<QWidget>();
  window->setWindowTitle(words.title);
  window->resize(800, 820);
  window->setMinimumSize(720, 500);
  if (const QScreen* screen = QApplication::primaryScreen())
    window->move(screen->availableGeometry().center() - window->rect().center());
  window->setAutoFillBackground(true);
  paint(window.get(), QPalette::Window, windowColour);

  auto* frame = new QVBoxLayout(window.get());
  frame->setContentsMargins(0, 0, 0, 0);
  auto* scroll = new QScrollArea;
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setWidgetResizable(true);
  scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  paint(scroll->viewport(), QPalette::Window, columnColour);
  frame->addWidget(scroll);

  // The column fills the visible width, so it scrolls only vertically.
  auto* column = new ContentStack;
  column->setAutoFillBackground(true);
  paint(column, QPalette::Window, columnColour);
  scroll->setWidget(column);

  auto text = [column](const QString& line, int size) {
    auto* label = new QLabel(line);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    QFont font = label->font();
    font.setPixelSize(size);
    label->setFont(font);
    paint(label, QPalette::WindowText, size == 11 ? accentColour : textColour);
    column->appendWide(label);
  };
  auto push = [this, column](const QString& title, void (App::*action)()) {
    QPushButton* made = button(title, action);
    tint(made, QPalette::ButtonText, accentColour);
    if (std::find(prominent.begin(), prominent.end(), title) != prominent.end()) {
      tint(made, QPalette::Button, accentColour);
      tint(made, QPalette::ButtonText, Qt::white);
    }
    column->append(made);
  };

  text("Your pedal. Across your computer.", 27);
  text(words.platform, 11);
  text(
      "Independent of Chrome. Only one VEC 05f3:00ff HID service with the candidate two-byte "
      "report format is eligible. Physical compatibility is unverified. Quit other pedal readers "
      "first.",
      13);
  push("Permissions", &App::permissions);
  push("Inspect pedal", &App::inspect);
  column->appendWide(status);
  column->append(review);
  push("Start isolated test", &App::start);
  text(
      "Learn each physical pedal by a complete press and release. Original outputs remain seized "
      "during learning and pause.",
      13);

  for (std::size_t i = 0; i < controls.size(); ++i) {
    const QString name = QString::fromUtf8(controls[i].data(), qsizetype(controls[i].size()));
    text(name.left(1).toUpper() + name.mid(1), 15);

    auto* menu = new QComboBox;
    for (auto action : actions)
      menu->addItem(QString::fromStdString(actionTitle(action)));
    const auto mapped = settings.mappings.find(std::string(controls[i]));
    if (mapped != settings.mappings.end()) {
      const auto at = std::find(actions.begin(), actions.end(), mapped->second);
      if (at != actions.end())
        menu->setCurrentIndex(int(at - actions.begin()));
    }
    column->append(menu);
    menus.push_back(menu);

    // The learn buttons keep the default look; the tag names the pedal by its index.
    auto* learner = new QPushButton("Learn " + name);
    learner->setProperty("tag", int(i));
    connect(learner, &QPushButton::clicked, this, [this, learner] { learn(learner); });
    column->append(learner);
    buttons[learner->text()] = learner;
  }

  text("Optional 250 ms click guard", 13);
  for (const QString& title : scopeTitles)
    scope->addItem(title);
  const auto chosen = std::find(scopes.begin(), scopes.end(), settings.guardScope);
  if (chosen != scopes.end())
    scope->setCurrentIndex(int(chosen - scopes.begin()));
  column->append(scope);
  text(
      "Starts at decoded pedal detection. Ordinary mouse clicks can also be blocked. Movement and "
      "wheel remain available. Existing drags can finish. A canceled down keeps its up canceled "
      "for up to 5 seconds. Events before detection/tap activation cannot be undone.",
      13);
  push("Save actions & guard", &App::save);
  column->append(verified);
  push("Activate actions", &App::activate);
  push("Pause actions", &App::pause);
  push("Stop capture", &App::stop);
  text(words.recovery, 13);
  text(words.shortcuts, 13);
  text("Settings stay in " + shortPath(file) +
           ". No telemetry, network listener, shell mappings or global input history.",
       13);
  push("Setup & recovery guide", &App::guide);
  column->finish();
  built = true;
}

QPushButton* App::button(const QString& title, void (App::*action)()) {
  // "&" in a button's text marks a keyboard mnemonic; doubled, it shows as itself.
  auto* made = new QPushButton(QString(title).replace('&', "&&"));
  connect(made, &QPushButton::clicked, this, [this, action] { (this->*action)(); });
  buttons[title] = made;
  return made;
}
