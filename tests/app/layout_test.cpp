// The window's rows, looks and sizing.

#include <QDir>
#include <QKeySequence>
#include <QLayout>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QSysInfo>
#include <variant>

#include "app/window.h"
#include "fixture.h"

namespace {

const QColor text = QColor::fromRgbF(0.2f, 0.22f, 0.19f);
const QColor accent = QColor::fromRgbF(0.78f, 0.28f, 0.04f);

class Layout : public Window {
 protected:
  ContentStack* column() const { return app->window->findChild<ContentStack*>(); }
  QScrollArea* scroll() const { return app->window->findChild<QScrollArea*>(); }
  std::vector<QWidget*> rows() const {
    std::vector<QWidget*> widgets;
    QLayout* layout = column()->layout();
    for (int i = 0; i < layout->count(); ++i) {
      if (QWidget* widget = layout->itemAt(i)->widget())
        widgets.push_back(widget);
    }
    return widgets;
  }
  // Lets the layout settle after a show or a resize.
  static void settle() {
    for (int i = 0; i < 5; ++i)
      QApplication::processEvents();
  }
};

// What one row shows: a text line with its size, or a control with its title.
struct Line {
  QString words;
  int size;
};
struct Push {
  QString title;
};
struct Menu {
  QString first;
};
struct Box {
  QString title;
};
struct Status {};
using Row = std::variant<Line, Push, Menu, Box, Status>;

TEST_F(Layout, RowsInOrderWithTheirTextsAndSizes) {
  open();
  const QString settingsPath =
      QString::fromStdString((config / "Quillfen" / "settings.json").string());
  const std::vector<Row> expected{
      Line{"Your pedal. Across your computer.", 27},
      Line{"LINUX · " + QSysInfo::currentCpuArchitecture().toUpper() + " · DEVELOPER PREVIEW", 11},
      Line{"Independent of Chrome. Only one VEC 05f3:00ff HID service with the candidate two-byte "
           "report format is eligible. Physical compatibility is unverified. Quit other pedal "
           "readers first.",
           13},
      Push{"Permissions"},
      Push{"Inspect pedal"},
      Status{},
      Box{"I reviewed recovery and understand exclusive pedal capture."},
      Push{"Start isolated test"},
      Line{"Learn each physical pedal by a complete press and release. Original outputs remain "
           "seized during learning and pause.",
           13},
      Line{"Left", 15},
      Menu{"No action"},
      Push{"Learn left"},
      Line{"Middle", 15},
      Menu{"No action"},
      Push{"Learn middle"},
      Line{"Right", 15},
      Menu{"No action"},
      Push{"Learn right"},
      Line{"Optional 250 ms click guard", 13},
      Menu{"Off (default)"},
      Line{"Starts at decoded pedal detection. Ordinary mouse clicks can also be blocked. Movement "
           "and wheel remain available. Existing drags can finish. A canceled down keeps its up "
           "canceled for up to 5 seconds. Events before detection/tap activation cannot be "
           "undone.",
           13},
      Push{"Save actions & guard"},
      Box{"I verified original outputs are absent and my ordinary mouse works."},
      Push{"Activate actions"},
      Push{"Pause actions"},
      Push{"Stop capture"},
      Line{"Recovery: Control + Alt + Shift + F12, Stop capture, or quit. A five-second UI "
           "heartbeat loss stops capture. Lock/session and sleep notifications stop capture. "
           "Never automatically reconnect or activate. Permission changes require inspection "
           "again.",
           13},
      Line{"Space/Enter/F13\u2013F20 are application shortcuts; assign them in your player for "
           "play/pause or seeking. There is no universal rewind or media integration. Scroll uses "
           "wheel line events; targeting follows OS scroll/focus behavior.",
           13},
      Line{"Settings stay in " + settingsPath +
               ". No telemetry, network listener, shell mappings or global input history.",
           13},
      Push{"Setup & recovery guide"},
  };

  const std::vector<QWidget*> actual = rows();
  ASSERT_EQ(actual.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE("row " + std::to_string(i + 1));
    QWidget* row = actual[i];
    if (const auto* line = std::get_if<Line>(&expected[i])) {
      auto* label = qobject_cast<QLabel*>(row);
      ASSERT_NE(label, nullptr);
      EXPECT_EQ(label->text(), line->words);
      EXPECT_EQ(label->font().pixelSize(), line->size);
      EXPECT_EQ(label->palette().color(QPalette::WindowText), line->size == 11 ? accent : text);
      EXPECT_TRUE(label->wordWrap());
    } else if (const auto* push = std::get_if<Push>(&expected[i])) {
      auto* button = qobject_cast<QPushButton*>(row);
      ASSERT_NE(button, nullptr);
      // Shown exactly as titled: no "&" taken for a keyboard mnemonic.
      EXPECT_EQ(QString(button->text()).replace("&&", "&"), push->title);
      EXPECT_TRUE(QKeySequence::mnemonic(button->text()).isEmpty());
      EXPECT_EQ(app->buttons.at(push->title), button);
    } else if (const auto* menu = std::get_if<Menu>(&expected[i])) {
      auto* combo = qobject_cast<QComboBox*>(row);
      ASSERT_NE(combo, nullptr);
      EXPECT_EQ(combo->currentText(), menu->first);
    } else if (const auto* box = std::get_if<Box>(&expected[i])) {
      auto* check = qobject_cast<QCheckBox*>(row);
      ASSERT_NE(check, nullptr);
      EXPECT_EQ(check->text(), box->title);
      EXPECT_FALSE(check->isChecked());
    } else {
      EXPECT_EQ(row, app->status);
      EXPECT_EQ(app->status->text(), "Inspect your pedal to begin. No input is captured.");
    }
  }
  EXPECT_EQ(actual[19], app->scope);
  EXPECT_EQ((std::vector<QWidget*>{actual[10], actual[13], actual[16]}),
            (std::vector<QWidget*>(app->menus.begin(), app->menus.end())));
  EXPECT_EQ(actual[6], app->review);
  EXPECT_EQ(actual[22], app->verified);
}

TEST_F(Layout, SettingsPathIsShortenedToTheHomeFolder) {
  setenv("XDG_CONFIG_HOME", (QDir::homePath() + "/.config").toLocal8Bit().constData(), 1);
  open();
  bool seen = false;
  for (QWidget* row : rows()) {
    if (auto* label = qobject_cast<QLabel*>(row); label && label->text().startsWith("Settings")) {
      EXPECT_EQ(label->text(),
                "Settings stay in ~/.config/Quillfen/settings.json. No telemetry, network "
                "listener, shell mappings or global input history.");
      seen = true;
    }
  }
  EXPECT_TRUE(seen);
}

TEST_F(Layout, WindowTitleSizeAndMenus) {
  open();
  EXPECT_EQ(app->window->windowTitle(), "Quillfen · Linux developer preview");
  EXPECT_EQ(app->window->minimumSize(), QSize(720, 500));
  EXPECT_EQ(app->window->size(), QSize(800, 820));
  EXPECT_TRUE(app->window->isVisible());

  QStringList titles;
  for (int i = 0; i < app->menus[0]->count(); ++i)
    titles << app->menus[0]->itemText(i);
  EXPECT_EQ(titles,
            (QStringList{"No action", "Scroll up", "Scroll down", "Space (application shortcut)",
                         "Enter", "F13", "F14", "F15", "F16", "F17", "F18", "F19", "F20"}));
  QStringList scopes;
  for (int i = 0; i < app->scope->count(); ++i)
    scopes << app->scope->itemText(i);
  EXPECT_EQ(scopes,
            (QStringList{"Off (default)", "All mouse buttons: left, middle, right & additional",
                         "Right-click only"}));
}

TEST_F(Layout, ButtonLooks) {
  open();
  const QColor white(Qt::white);
  auto colour = [](QPushButton* button, QPalette::ColorGroup group, QPalette::ColorRole role) {
    return button->palette().color(group, role);
  };
  for (const char* title : {"Start isolated test", "Activate actions"}) {
    QPushButton* button = app->buttons.at(title);
    EXPECT_EQ(colour(button, QPalette::Active, QPalette::Button), accent) << title;
    EXPECT_EQ(colour(button, QPalette::Active, QPalette::ButtonText), white) << title;
    EXPECT_EQ(colour(button, QPalette::Inactive, QPalette::Button), accent) << title;
  }
  for (const char* title : {"Permissions", "Inspect pedal", "Save actions & guard", "Pause actions",
                            "Stop capture", "Setup & recovery guide"}) {
    QPushButton* button = app->buttons.at(title);
    EXPECT_EQ(colour(button, QPalette::Active, QPalette::ButtonText), accent) << title;
    EXPECT_EQ(colour(button, QPalette::Inactive, QPalette::ButtonText), accent) << title;
    EXPECT_NE(colour(button, QPalette::Active, QPalette::Button), accent) << title;
  }
  // Disabled, every button keeps the style's dimmed look.
  for (const auto& [title, button] : app->buttons) {
    EXPECT_NE(colour(button, QPalette::Disabled, QPalette::ButtonText), accent)
        << title.toStdString();
    EXPECT_NE(colour(button, QPalette::Disabled, QPalette::Button), accent) << title.toStdString();
  }
  for (const char* title : {"Learn left", "Learn middle", "Learn right"}) {
    QPushButton* button = app->buttons.at(title);
    EXPECT_FALSE(button->testAttribute(Qt::WA_SetPalette)) << title << " keeps the default look";
  }
  EXPECT_EQ(app->buttons.at("Learn left")->property("tag").toInt(), 0);
  EXPECT_EQ(app->buttons.at("Learn middle")->property("tag").toInt(), 1);
  EXPECT_EQ(app->buttons.at("Learn right")->property("tag").toInt(), 2);
  EXPECT_EQ(QApplication::style()->name().toLower(), "fusion");
}

TEST_F(Layout, MinimumSizeScrollsOnlyVertically) {
  open();
  app->window->resize(720, 500);
  settle();
  QScrollArea* area = scroll();
  ContentStack* stack = column();
  EXPECT_EQ(stack->width(), area->viewport()->width());
  EXPECT_FALSE(area->horizontalScrollBar()->isVisible());
  EXPECT_EQ(area->horizontalScrollBar()->maximum(), 0);
  ASSERT_TRUE(area->verticalScrollBar()->isVisible());
  for (QWidget* row : rows()) {
    EXPECT_LE(row->geometry().right() + 1, stack->width() - 24);
    EXPECT_GE(row->x(), 24);
    if (qobject_cast<QLabel*>(row)) {
      EXPECT_LE(row->width(), stack->width() - 48);
    }
  }

  // The last row comes into view at the bottom of the scroll range.
  area->verticalScrollBar()->setValue(area->verticalScrollBar()->maximum());
  settle();
  QWidget* last = app->buttons.at("Setup & recovery guide");
  const QRect visible(QPoint(0, area->verticalScrollBar()->value()), area->viewport()->size());
  EXPECT_TRUE(visible.contains(last->geometry())) << last->geometry().y();
}

TEST_F(Layout, ColumnIsAnchoredAtTheTop) {
  open();
  app->window->resize(1000, 3000);
  settle();
  const std::vector<QWidget*> all = rows();
  EXPECT_EQ(all.front()->y(), 24);
  EXPECT_FALSE(scroll()->verticalScrollBar()->isVisible());
  for (std::size_t i = 1; i < all.size(); ++i)
    EXPECT_EQ(all[i]->y(), all[i - 1]->geometry().bottom() + 1 + 16) << i;
  EXPECT_LT(all.back()->geometry().bottom(), 3000 - 200) << "free space stays at the bottom";
}

}  // namespace
