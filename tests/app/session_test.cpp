// The window's logic through whole sessions of use, its status handling, and its launch and
// termination, over the simulated pedal.

#include <vector>

#include "core/settings.h"
#include "harness.h"

namespace {

using Session = Shell;

TEST_F(Session, LaunchRunsItsStepsInOrder) {
  open({"quillfen", "--ui-test"});
  EXPECT_EQ(calls, (std::vector<std::string>{"look", "build", "observe", "every 1.000000", "raise",
                                             "after 0.500000"}));
  EXPECT_EQ(app->status, App::idle);
  expectControls(State::idle);
  EXPECT_GE(changes, 1) << "the window shows the disabled buttons";

  // The startup check: the picture only where asked for, then the PASS line and quit.
  testing::internal::CaptureStdout();
  later();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "PASS macOS GUI startup; capture inactive.\n");
  EXPECT_TRUE(pictures.empty());
  EXPECT_EQ(calls.back(), "quit");
  setenv("QUILLFEN_MAC_UI_SCREENSHOT", "shot.png", 1);
  testing::internal::CaptureStdout();
  app->check();
  testing::internal::GetCapturedStdout();
  unsetenv("QUILLFEN_MAC_UI_SCREENSHOT");
  EXPECT_EQ(pictures, std::vector<std::string>{"shot.png"});
}

TEST_F(Session, NoStartupCheckWithoutItsSwitch) {
  open();
  EXPECT_EQ(calls.back(), "raise");
  EXPECT_FALSE(later);
}

TEST_F(Session, WholeSessionOfUse) {
  open();
  const std::uint64_t pedal = capture();
  expectControls(State::isolated);
  EXPECT_TRUE(sim::opened(pedal));
  EXPECT_TRUE(app->review) << "the window never unchecks the review box";

  teachAll(pedal);
  expectControls(State::isolated);
  EXPECT_EQ(sim::postedCount(), 0u) << "nothing is posted during the isolated test";

  // Space on the left pedal, F13 in the middle, scrolling down on the right; guard on every
  // mouse button. A save needs a fresh verification afterwards.
  app->menus = {3, 5, 2};
  app->scope = 1;
  app->verified = true;
  click("Save actions & guard");
  EXPECT_EQ(app->status, "Saved locally. Activation remains explicit.");
  EXPECT_FALSE(app->verified);
  const Settings chosen(1, {{"left", "space"}, {"middle", "f13"}, {"right", "scrollDown"}}, "all");
  EXPECT_EQ(app->settings, chosen);
  EXPECT_EQ(contents(settingsFile()), encode(chosen));
  expectControls(State::isolated);

  app->verified = true;
  click("Activate actions");
  expectStatus("Actions active in the focused app. Guard: all. Keep Quillfen open.");
  expectControls(State::active);
  EXPECT_TRUE(app->verified);

  // A press of the left pedal posts Space down and up, tagged as ours; a click right after it
  // is dropped by the guard.
  ASSERT_TRUE(sim::deliver(pedal, {1, 0}));
  ASSERT_TRUE(until([] { return sim::postedCount() == 2; }));
  const std::vector<sim::Posted> posted = sim::posted();
  EXPECT_EQ(posted[0].type, platform::keyDown);
  EXPECT_EQ(posted[1].type, platform::keyUp);
  EXPECT_EQ(posted[0].key, 49);
  EXPECT_EQ(posted[1].tag, eventTag);
  EXPECT_EQ(sim::click(platform::leftMouseDown, 0), sim::Mouse::dropped);
  EXPECT_EQ(sim::click(platform::leftMouseUp, 0), sim::Mouse::dropped);

  click("Pause actions");
  expectStatus("Actions paused; original pedal reports remain seized. Stop restores input.");
  expectControls(State::isolated);
  EXPECT_TRUE(sim::opened(pedal)) << "a pause keeps the pedal seized";
  EXPECT_TRUE(app->verified) << "a status with capture keeps the verification";

  click("Stop capture");
  expectStatus("Capture stopped. Original input restored.");
  expectControls(State::idle);
  EXPECT_FALSE(sim::opened(pedal));
}

TEST_F(Session, StartNeedsTheReviewBoxAndAlwaysClearsVerification) {
  open();
  const std::uint64_t pedal = sim::plug();
  click("Inspect pedal");
  expectStatus(inspected(pedal));
  app->verified = true;
  click("Start isolated test");
  EXPECT_FALSE(app->verified);
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

TEST_F(Session, StatusFlagsAloneDecideTheControls) {
  open();
  const int before = changes;
  app->verified = true;
  app->show("Captured.", true, false);
  EXPECT_EQ(app->status, "Captured.");
  EXPECT_GT(changes, before) << "the window is told to show it";
  expectControls(State::isolated);
  EXPECT_TRUE(app->verified);

  app->show("Active.", true, true);
  expectControls(State::active);
  EXPECT_TRUE(app->verified);

  app->show("Idle.", false, false);
  expectControls(State::idle);
  EXPECT_FALSE(app->verified) << "a status without capture unchecks it";

  // Active without capture: the idle states, but nothing to configure and pause available.
  app->verified = true;
  app->show("Odd.", false, true);
  EXPECT_FALSE(app->verified);
  EXPECT_TRUE(app->buttons.at("Pause actions"));
  EXPECT_FALSE(app->buttons.at("Stop capture"));
  EXPECT_TRUE(app->buttons.at("Inspect pedal"));
  EXPECT_FALSE(app->buttons.at("Save actions & guard"));
  EXPECT_FALSE(app->buttons.at("Activate actions"));
  EXPECT_FALSE(app->enabled(app->rows.at(19))) << "the scope pop-up";
}

TEST_F(Session, HeartbeatLostWhileTheMainThreadIsBlocked) {
  open();
  const std::uint64_t pedal = capture();
  // Three seconds of the pedal's clock at a time, each followed by a tick: capture goes on.
  for (int i = 0; i < 2; ++i) {
    sim::advance(3000);
    heartbeat();
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_TRUE(sim::opened(pedal));
  // Then no tick for more than five seconds.
  sim::advance(5001);
  expectStatus("Settings window heartbeat lost. Capture stopped.");
  EXPECT_FALSE(sim::opened(pedal));
  expectControls(State::idle);
}

TEST_F(Session, SleepOrSessionChangeWhileIdleForgetsTheInspection) {
  open();
  const std::uint64_t pedal = sim::plug();
  click("Inspect pedal");
  expectStatus(inspected(pedal));
  // Observers may call from any thread.
  std::thread(observer).join();
  expectStatus("Session or sleep changed. Inspect again.");
  app->review = true;
  click("Start isolated test");
  expectStatus("Inspect one eligible pedal and review recovery first.");
  EXPECT_FALSE(sim::opened(pedal));
}

TEST_F(Session, StaysAwakeExactlyWhileAPedalIsCaptured) {
  open();
  const std::uint64_t pedal = capture();
  EXPECT_TRUE(sim::deliver(pedal, {0, 0}));
  expectStatus("Isolated / paused · learned:  · held: 0");
  std::thread(observer).join();  // the computer goes to sleep
  expectStatus("Session or sleep changed. Inspect again.");
  click("Inspect pedal");
  expectStatus(inspected(pedal));
  click("Start isolated test");
  expectStatus(started);
  app->terminate();
  drain();  // "Stopped." and "Closed." arrive after termination
  std::vector<std::string> asked;
  std::copy_if(calls.begin(), calls.end(), std::back_inserter(asked),
               [](const std::string& call) { return call == "awake" || call == "asleep"; });
  EXPECT_EQ(asked, (std::vector<std::string>{"awake", "asleep", "awake", "asleep"}));
}

TEST_F(Session, TerminationReleasesThePedalAndStopsTheHeartbeat) {
  open();
  const std::uint64_t pedal = capture();
  app->terminate();
  EXPECT_EQ(calls.back(), "cancel");
  EXPECT_FALSE(sim::opened(pedal)) << "released during the termination wait";
  app->terminate();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "cancel"), 1) << "the steps run once";
}

TEST_F(Session, PermissionsAsksForBothAndChangesNothing) {
  open();
  const int before = changes;
  click("Permissions");
  EXPECT_EQ(sim::requests(), 2);
  EXPECT_EQ(changes, before);
  EXPECT_EQ(app->status, App::idle);
  EXPECT_TRUE(informed.empty()) << "the system's own requests say it all";
  // Where nothing can be granted from inside the program, the platform's findings are shown.
  sim::setAccessReport("Quillfen can open every device it needs.");
  click("Permissions");
  ASSERT_EQ(informed.size(), 1u);
  EXPECT_EQ(informed[0], std::make_pair(std::string("Permissions"),
                                        std::string("Quillfen can open every device it needs.")));
}

TEST_F(Session, GuideOpensTheDocumentWhereItIs) {
  if (!std::filesystem::exists(QUILLFEN_SOURCE_GUIDE))
    GTEST_SKIP() << "the source tree is not on this machine";
  open();
  click("Setup & recovery guide");
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0], std::filesystem::path(QUILLFEN_SOURCE_GUIDE));
  EXPECT_EQ(app->status, App::idle);
}

TEST(Guide, InstalledOrBundledCopyFirstThenSourceCopyElseNothing) {
  const std::filesystem::path root = scratchFolder("guide");
  ASSERT_FALSE(root.empty());
  const std::filesystem::path source = root / "source" / "README.md";
  auto put = [](const std::filesystem::path& file) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file) << "guide";
  };

  std::filesystem::create_directories(root / "bin");
  EXPECT_EQ(guidePath(root / "bin", source), std::filesystem::path());
  put(source);
  EXPECT_EQ(guidePath(root / "bin", source), source);
  const std::filesystem::path bundled = root / "Resources" / "README.md";  // Contents/Resources
  put(bundled);
  EXPECT_EQ(guidePath(root / "bin", source), bundled);
  const std::filesystem::path installed = root / "share" / "quillfen" / "README.md";
  put(installed);
  EXPECT_EQ(guidePath(root / "bin", ""), installed);
  std::filesystem::remove_all(root);
}

}  // namespace
