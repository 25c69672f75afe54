// The Qt window driven by real clicks: clicks, check boxes and pop-up choices reach the App, and
// the widgets show what it holds.

#include <QDesktopServices>
#include <QTimer>
#include <QUrl>
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

// Receives the URLs the window hands to the desktop.
class Opener : public QObject {
  Q_OBJECT
 public:
  std::vector<QUrl> opened;
 public Q_SLOTS:
  void open(const QUrl& url) { opened.push_back(url); }
};

TEST_F(Session, GuideOpensTheDocumentWithTheDesktop) {
  Opener opener;
  QDesktopServices::setUrlHandler("file", &opener, "open");
  open();
  click("Setup & recovery guide");
  QDesktopServices::unsetUrlHandler("file");
  ASSERT_EQ(opener.opened.size(), 1u);
  EXPECT_EQ(opener.opened[0], QUrl::fromLocalFile(QUILLFEN_SOURCE_GUIDE));
}

}  // namespace

#include "session_test.moc"
