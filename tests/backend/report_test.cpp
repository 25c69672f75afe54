// Input reports: the checks of each report, the learning status while not active, and the
// actions posted while active.

#include "harness.h"

namespace {

using namespace harness;

using Report = Scenario;

const std::string unsupportedReport = "Unsupported report or input failure.";

sim::Posted key(std::uint16_t code, bool down) {
  return {down ? platform::keyDown : platform::keyUp,
          code,
          0,
          0,
          0,
          eventTag,
          platform::sessionEventTap};
}

sim::Posted scroll(std::int32_t lines) {
  return {platform::scrollWheel, 0, lines, 0, 0, eventTag, platform::sessionEventTap};
}

TEST_F(Report, MalformedReportsStopCapture) {
  struct Case {
    std::vector<std::uint8_t> bytes;
    platform::Return result;
    std::uint32_t reportID;
  };
  for (const auto& bad :
       {Case{{0}, platform::success, 0}, Case{{0, 0, 0}, platform::success, 0},
        Case{{0, 0}, platform::success, 1}, Case{{0, 0}, platform::noDevice, 0}}) {
    const auto id = isolated();
    ASSERT_TRUE(sim::deliver(id, bad.bytes, bad.result, bad.reportID));
    const auto status = next();
    EXPECT_EQ(status.message, unsupportedReport) << bad.bytes.size() << " " << bad.reportID;
    EXPECT_FALSE(status.captured);
    EXPECT_FALSE(sim::opened(id));
    sim::unplug(id);
  }
}

TEST_F(Report, IsolatedStatusFollowsEveryReport) {
  const auto id = isolated();
  deliver(id, {0, 0});
  EXPECT_EQ(nextMessage(), "Isolated / paused · learned:  · held: 0");
  deliver(id, {0, 0});
  EXPECT_EQ(nextMessage(), "Isolated / paused · learned:  · held: 0") << "also when unchanged";
  learn(id, "right", right);
  learn(id, "left", left);
  deliver(id, {left | right, 0});
  const auto status = next();
  EXPECT_EQ(status.message, "Isolated / paused · learned: left, right · held: 5");
  EXPECT_FALSE(status.active);
  EXPECT_TRUE(sim::posted().empty()) << "nothing is posted while not active";
}

TEST_F(Report, UndecodableReportStopsCapture) {
  const auto id = isolated();
  deliver(id, {8, 0});
  const auto status = next();
  EXPECT_EQ(status.message, failed);
  EXPECT_FALSE(sim::opened(id));
}

TEST_F(Report, TwoPedalsAtOnceWhileLearningStopCapture) {
  const auto id = isolated();
  deliver(id, {0, 0});
  next();
  send([](Backend& b) { b.learn("left"); });
  next();
  deliver(id, {left | middle, 0});
  EXPECT_EQ(nextMessage(), failed);
}

TEST_F(Report, PressesPostTheirActionsInPedalOrder) {
  const auto id = activated(mapped("space", "scrollDown", "none"));
  deliver(id, {left | middle, 0});
  ASSERT_TRUE(eventually([] { return sim::postedCount() == 3; }));
  EXPECT_EQ(sim::posted(), (std::vector<sim::Posted>{key(49, true), key(49, false), scroll(-3)}));
  deliver(id, {0, 0});
  ASSERT_TRUE(eventually(sim::settled));
  EXPECT_EQ(sim::postedCount(), 3u) << "a release posts nothing";
  expectQuiet();
}

TEST_F(Report, EveryActionPostsItsEvents) {
  const std::vector<std::pair<std::string, std::vector<sim::Posted>>> table{
      {"scrollUp", {scroll(3)}},
      {"enter", {key(36, true), key(36, false)}},
      {"f13", {key(105, true), key(105, false)}},
      {"f14", {key(107, true), key(107, false)}},
      {"f15", {key(113, true), key(113, false)}},
      {"f16", {key(106, true), key(106, false)}},
      {"f17", {key(64, true), key(64, false)}},
      {"f18", {key(79, true), key(79, false)}},
      {"f19", {key(80, true), key(80, false)}},
      {"f20", {key(90, true), key(90, false)}},
  };
  const auto id = activated(mapped("none", "none", "none"));
  for (const auto& [action, events] : table) {
    send([](Backend& b) { b.pause(); });
    EXPECT_EQ(nextMessage(), paused);
    const auto settings = mapped("none", "none", action);
    send([settings](Backend& b) {
      b.configure(settings);
      b.activate(true);
    });
    next();
    const auto before = sim::postedCount();
    deliver(id, {right, 0});
    deliver(id, {0, 0});
    ASSERT_TRUE(eventually(sim::settled));
    const auto all = sim::posted();
    EXPECT_EQ(
        std::vector<sim::Posted>(all.begin() + static_cast<std::ptrdiff_t>(before), all.end()),
        events)
        << action;
  }
}

TEST_F(Report, NoneArmsTheGuardWithoutPostingOrCheckingPermissions) {
  const auto id = activated(mapped("none", "space", "none", "all"));
  sim::grantPost(false);
  deliver(id, {left, 0});
  ASSERT_TRUE(eventually(sim::settled));
  EXPECT_EQ(sim::click(platform::leftMouseDown, 0), sim::Mouse::dropped) << "the guard is armed";
  EXPECT_EQ(sim::click(platform::leftMouseUp, 0), sim::Mouse::dropped);
  EXPECT_TRUE(sim::posted().empty());
  expectQuiet();
}

TEST_F(Report, HeldKeyIsNeverPressedAgain) {
  const auto id = activated(mapped("enter", "none", "none"));
  sim::holdKey(36, true);
  deliver(id, {left, 0});
  const auto status = next();
  EXPECT_EQ(status.message, failed);
  EXPECT_FALSE(status.active);
  EXPECT_TRUE(sim::posted().empty());
  EXPECT_FALSE(sim::opened(id));
}

TEST_F(Report, MissingPostingAccessStopsCapture) {
  const auto id = activated(mapped("space", "none", "none"));
  sim::grantPost(false);
  deliver(id, {left, 0});
  EXPECT_EQ(nextMessage(), failed);
  EXPECT_TRUE(sim::posted().empty());
}

TEST_F(Report, FailedKeyEventLeavesNoKeyDown) {
  const auto id = activated(mapped("f13", "none", "none"));
  sim::fail(sim::Op::keyboardEvent, 1);  // the down is made, the up is not
  deliver(id, {left, 0});
  EXPECT_EQ(nextMessage(), failed);
  EXPECT_TRUE(sim::posted().empty());
}

TEST_F(Report, FailedActionSkipsTheRemainingPedalsButKeepsWhatWasPosted) {
  const auto id = activated(mapped("space", "scrollUp", "enter"));
  sim::fail(sim::Op::scrollEvent);
  deliver(id, {left | middle | right, 0});
  EXPECT_EQ(nextMessage(), failed);
  EXPECT_EQ(sim::posted(), (std::vector<sim::Posted>{key(49, true), key(49, false)}));
}

}  // namespace
