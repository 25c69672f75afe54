// The window driven by clicks through whole sessions of use, over the simulated pedal.

#include <QDesktopServices>
#include <QTimer>
#include <QUrl>
#include <vector>

#include "core/settings.h"
#include "fixture.h"

namespace {

using Session = Window;

TEST_F(Session, WholeSessionOfUse) {
  open();
  EXPECT_EQ(app->status->text(), idleText);
  expectControls(State::idle);

  const std::uint64_t pedal = capture();
  expectControls(State::isolated);
  EXPECT_TRUE(sim::opened(pedal));
  EXPECT_TRUE(app->review->isChecked()) << "the window never unchecks the review box";

  ASSERT_TRUE(sim::deliver(pedal, {0, 0}));
  expectStatus("Isolated / paused · learned:  · held: 0");
  teach(pedal, "left", 1, "left");
  expectControls(State::isolated);
  teach(pedal, "middle", 2, "left, middle");
  expectControls(State::isolated);
  teach(pedal, "right", 4, "left, middle, right");
  expectControls(State::isolated);
  EXPECT_EQ(sim::postedCount(), 0u) << "nothing is posted during the isolated test";

  // Space on the left pedal, F13 in the middle, scrolling down on the right; guard on every
  // mouse button. A save needs a fresh verification afterwards.
  app->menus[0]->setCurrentIndex(3);
  app->menus[1]->setCurrentIndex(5);
  app->menus[2]->setCurrentIndex(2);
  app->scope->setCurrentIndex(1);
  tick(app->verified);
  click("Save actions & guard");
  EXPECT_EQ(app->status->text(), "Saved locally. Activation remains explicit.");
  EXPECT_FALSE(app->verified->isChecked());
  const Settings chosen(1, {{"left", "space"}, {"middle", "f13"}, {"right", "scrollDown"}}, "all");
  EXPECT_EQ(app->settings, chosen);
  EXPECT_EQ(read(settingsFile()), encode(chosen));
  expectControls(State::isolated);

  tick(app->verified);
  click("Activate actions");
  expectStatus("Actions active in the focused app. Guard: all. Keep Quillfen open.");
  expectControls(State::active);
  EXPECT_TRUE(app->verified->isChecked());

  // A press of the left pedal posts Space down and up, tagged as ours.
  ASSERT_TRUE(sim::deliver(pedal, {1, 0}));
  ASSERT_TRUE(until([] { return sim::postedCount() == 2; }));
  const std::vector<sim::Posted> posted = sim::posted();
  EXPECT_EQ(posted[0].type, platform::keyDown);
  EXPECT_EQ(posted[1].type, platform::keyUp);
  EXPECT_EQ(posted[0].key, 49);
  EXPECT_EQ(posted[1].key, 49);
  EXPECT_EQ(posted[0].tag, eventTag);
  ASSERT_TRUE(sim::deliver(pedal, {0, 0}));

  // A click right after the press is dropped by the guard; once the guard time is over, clicks
  // pass again.
  EXPECT_EQ(sim::click(platform::leftMouseDown, 0), sim::Mouse::dropped);
  EXPECT_EQ(sim::click(platform::leftMouseUp, 0), sim::Mouse::dropped);
  sim::advance(300);
  EXPECT_EQ(sim::click(platform::leftMouseDown, 0), sim::Mouse::passed);
  EXPECT_EQ(sim::click(platform::leftMouseUp, 0), sim::Mouse::passed);
  EXPECT_EQ(app->status->text(),
            "Actions active in the focused app. Guard: all. Keep Quillfen open.");

  click("Pause actions");
  expectStatus("Actions paused; original pedal reports remain seized. Stop restores input.");
  expectControls(State::isolated);
  EXPECT_TRUE(sim::opened(pedal)) << "a pause keeps the pedal seized";
  EXPECT_TRUE(app->verified->isChecked()) << "a status with capture keeps the verification";

  click("Stop capture");
  expectStatus("Capture stopped. Original input restored.");
  expectControls(State::idle);
  EXPECT_FALSE(sim::opened(pedal));
  EXPECT_EQ(sim::postedCount(), 2u);
}

TEST_F(Session, StartNeedsTheReviewBoxAndAlwaysClearsVerification) {
  open();
  const std::uint64_t pedal = sim::plug();
  click("Inspect pedal");
  expectStatus(inspected.arg(pedal));
  tick(app->verified);
  click("Start isolated test");
  EXPECT_FALSE(app->verified->isChecked());
  expectStatus("Inspect one eligible pedal and review recovery first.");
  expectControls(State::idle);
  EXPECT_FALSE(sim::opened(pedal));
}

TEST_F(Session, ActivationNeedsTheVerificationBox) {
  open();
  teachAll(capture());
  click("Activate actions");
  expectStatus(
      "Learn/release all three pedals, verify outputs and mouse, and grant Accessibility before "
      "activation.");
  expectControls(State::isolated);
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
  EXPECT_EQ(app->status->textFormat(), Qt::PlainText);
}

TEST_F(Session, StatusFlagsAloneDecideTheControls) {
  open();
  tick(app->verified);
  app->show("Captured.", true, false);
  EXPECT_EQ(app->status->text(), "Captured.");
  expectControls(State::isolated);
  EXPECT_TRUE(app->verified->isChecked());

  app->show("Active.", true, true);
  expectControls(State::active);
  EXPECT_TRUE(app->verified->isChecked());

  app->show("Idle.", false, false);
  expectControls(State::idle);
  EXPECT_FALSE(app->verified->isChecked()) << "a status without capture unchecks it";

  // Active without capture: the idle states, but nothing to configure and pause available.
  tick(app->verified);
  app->show("Odd.", false, true);
  EXPECT_FALSE(app->verified->isChecked());
  EXPECT_TRUE(app->buttons.at("Pause actions")->isEnabled());
  EXPECT_FALSE(app->buttons.at("Stop capture")->isEnabled());
  EXPECT_TRUE(app->buttons.at("Inspect pedal")->isEnabled());
  EXPECT_FALSE(app->buttons.at("Save actions & guard")->isEnabled());
  EXPECT_FALSE(app->buttons.at("Activate actions")->isEnabled());
  EXPECT_FALSE(app->scope->isEnabled());
}

TEST_F(Session, HeartbeatLostWhileTheMainThreadIsBlocked) {
  open();
  const std::uint64_t pedal = capture();
  // The main thread does nothing for more than five seconds of the pedal's clock: no heartbeat.
  sim::advance(5001);
  for (int i = 0; i < 200 && sim::opened(pedal); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_FALSE(sim::opened(pedal));
  expectStatus("Settings window heartbeat lost. Capture stopped.");
  expectControls(State::idle);
}

TEST_F(Session, HeartbeatKeepsCaptureWhileTheWindowRuns) {
  open();
  const std::uint64_t pedal = capture();
  // Three seconds of pedal clock at a time, each followed by at least one of the window's
  // one-second ticks: six seconds pass in all, but never five without a heartbeat.
  for (int i = 0; i < 2; ++i) {
    sim::advance(3000);
    QTest::qWait(1500);
  }
  EXPECT_TRUE(sim::opened(pedal));
  EXPECT_EQ(app->status->text(), started);
}

TEST_F(Session, ClosingTheWindowReleasesThePedalBeforeExit) {
  open();
  const std::uint64_t pedal = capture();
  QTimer::singleShot(0, app->window.get(), [this] { app->window->close(); });
  QApplication::exec();
  EXPECT_FALSE(sim::opened(pedal)) << "released during the termination wait";
}

TEST_F(Session, PermissionsAsksForBothAndChangesNothing) {
  open();
  click("Permissions");
  EXPECT_EQ(sim::requests(), 2);
  QTest::qWait(50);
  EXPECT_EQ(app->status->text(), idleText);
  expectControls(State::idle);
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
  EXPECT_EQ(app->status->text(), idleText);
}

TEST(Guide, InstalledCopyFirstThenSourceCopyElseNothing) {
  std::string pattern = (std::filesystem::temp_directory_path() / "quillfen-guide-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const std::filesystem::path root = pattern;
  const std::filesystem::path source = root / "source" / "README.md";
  const std::filesystem::path installed = root / "share" / "quillfen" / "README.md";

  std::filesystem::create_directories(root / "bin");
  EXPECT_EQ(guidePath(root / "bin", source), std::filesystem::path());
  std::filesystem::create_directories(source.parent_path());
  std::ofstream(source) << "guide";
  EXPECT_EQ(guidePath(root / "bin", source), source);
  std::filesystem::create_directories(installed.parent_path());
  std::ofstream(installed) << "guide";
  EXPECT_EQ(guidePath(root / "bin", source), installed);
  EXPECT_EQ(guidePath(root / "bin", ""), installed);
  std::filesystem::remove_all(root);
}

}  // namespace

#include "session_test.moc"
