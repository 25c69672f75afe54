// The Qt window driven by real clicks: clicks, check boxes and pop-up choices reach the App, and
// the widgets show what it holds.

#include <QMainWindow>
#include <QTextBrowser>
#include <QTimer>
#include <vector>

#include "core/settings.h"
#include "fixture.h"

namespace {

using Session = Window;

TEST_F(Session, ClicksAndChoicesReachTheAppAndTheWidgetsFollowIt) {
  open();
  expectWidgetsFollowTheApp();
  const std::uint64_t pedal = capture();
  expectWidgetsFollowTheApp();

  ASSERT_TRUE(sim::deliver(pedal, {0, 0}));
  expectStatus("Isolated / paused · learned:  · held: 0");
  teach(pedal, "left", 1, "left");
  teach(pedal, "middle", 2, "left, middle");
  teach(pedal, "right", 4, "left, middle, right");
  expectWidgetsFollowTheApp();

  // The pop-ups' choices are what a save stores.
  front->menus[0]->setCurrentIndex(3);
  front->menus[1]->setCurrentIndex(5);
  front->menus[2]->setCurrentIndex(2);
  front->scope->setCurrentIndex(1);
  tick(front->verified);
  click("Save actions & guard");
  EXPECT_EQ(front->status->text(), "Saved locally. Activation remains explicit.");
  EXPECT_FALSE(front->verified->isChecked()) << "the App unchecked it";
  const Settings chosen(1, {{"left", "space"}, {"middle", "f13"}, {"right", "scrollDown"}}, "all");
  EXPECT_EQ(contents(settingsFile()), encode(chosen));

  tick(front->verified);
  click("Activate actions");
  expectStatus("Actions active in the focused app. Guard: all. Keep Quillfen open.");
  expectWidgetsFollowTheApp();
  EXPECT_FALSE(front->menus[0]->isEnabled());

  ASSERT_TRUE(sim::deliver(pedal, {1, 0}));
  ASSERT_TRUE(until([] { return sim::postedCount() == 2; }));
  EXPECT_EQ(sim::posted()[0].key, 49);

  click("Pause actions");
  expectStatus("Actions paused; original pedal reports remain seized. Stop restores input.");
  click("Stop capture");
  expectStatus("Capture stopped. Original input restored.");
  expectWidgetsFollowTheApp();
  EXPECT_FALSE(front->verified->isChecked());
  EXPECT_FALSE(sim::opened(pedal));
}

TEST_F(Session, SettingsFileIsShownInThePopUps) {
  write(R"({"version":1,"mappings":{"left":"f13","middle":"none","right":"enter"},)"
        R"("guardScope":"right"})");
  open();
  std::vector<QString> shown;
  for (QComboBox* menu : front->menus)
    shown.push_back(menu->currentText());
  shown.push_back(front->scope->currentText());
  EXPECT_EQ(shown, (std::vector<QString>{"F13", "No action", "Enter", "Right-click only"}));
}

TEST_F(Session, StatusTextIsShownAsWritten) {
  // A pedal's product name reaches the status line; markup in it stays text.
  open();
  const std::uint64_t pedal = sim::plug({.name = std::string("<b>Pedal</b> <img src=x>")});
  click("Inspect pedal");
  expectStatus(
      QString("<b>Pedal</b> <img src=x> · 05f3:00ff · two-byte candidate protocol · registry %1. "
              "Physical compatibility unverified.")
          .arg(pedal));
  EXPECT_EQ(front->status->textFormat(), Qt::PlainText);
}

TEST_F(Session, HeartbeatTimerKeepsCaptureWhileTheWindowRuns) {
  open();
  const std::uint64_t pedal = capture();
  // Three seconds of pedal clock at a time, each followed by at least one of the window's
  // one-second ticks: six seconds pass in all, but never five without a heartbeat.
  for (int i = 0; i < 2; ++i) {
    sim::advance(3000);
    QTest::qWait(1500);
  }
  EXPECT_TRUE(sim::opened(pedal));
  EXPECT_EQ(front->status->text(), started);
}

TEST_F(Session, ClosingTheWindowReleasesThePedalBeforeExit) {
  open();
  const std::uint64_t pedal = capture();
  QTimer::singleShot(0, front->window.get(), [this] { front->window->close(); });
  QApplication::exec();
  EXPECT_FALSE(sim::opened(pedal)) << "released during the termination wait";
}

// The guide goes to the desktop's opener, `xdg-open`, here a script on PATH that notes what it
// was asked to open and ends as told. When the desktop cannot open it, the guide's own window
// shows it, and Escape closes that window.
TEST_F(Session, GuideOpensWithTheDesktopOrInItsOwnWindow) {
  struct Case {
    const char* name;
    const char* opener;  // the script's body; none: no xdg-open at all
    bool own;            // the guide's own window shows it
  };
  // PATH as it was, even when a case fails.
  struct Restore {
    std::string path = getenv("PATH") != nullptr ? getenv("PATH") : "/usr/bin:/bin";
    ~Restore() { setenv("PATH", path.c_str(), 1); }
  } restore;
  const std::filesystem::path folder = config / "desktop";
  for (const Case& item :
       {Case{"the desktop opens it", "echo \"$1\" > \"$0.asked\"", false},
        Case{"no program for its type", "echo 'xdg-open: no method available' >&2; exit 3", true},
        Case{"no xdg-open", nullptr, true}}) {
    SCOPED_TRACE(item.name);
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    if (item.opener != nullptr) {
      put(folder / "xdg-open", std::string("#!/bin/sh\n") + item.opener + "\n");
      std::filesystem::permissions(folder / "xdg-open", std::filesystem::perms::owner_all);
    }
    setenv("PATH", folder.c_str(), 1);
    open();
    click("Setup & recovery guide");
    if (item.own) {
      ASSERT_TRUE(until([&] { return front->guide && front->guide->isVisible(); }));
      auto* shown = front->guide->findChild<QTextBrowser*>();
      EXPECT_TRUE(shown->toPlainText().contains("Recovery")) << shown->toPlainText().toStdString();
      // Escape, pressed once that window is active, closes it.
      ASSERT_TRUE(QTest::qWaitForWindowActive(front->guide.get()));
      QTest::keyClick(shown, Qt::Key_Escape);
      EXPECT_FALSE(front->guide->isVisible()) << "Escape did not close it";
    } else {
      ASSERT_TRUE(until([&] { return !contents(folder / "xdg-open.asked").empty(); }));
      EXPECT_EQ(contents(folder / "xdg-open.asked"), std::string(QUILLFEN_SOURCE_GUIDE) + "\n");
      QTest::qWait(300);
      EXPECT_FALSE(front->guide) << "shown although the desktop opened it";
    }
    close();
  }
}

}  // namespace
