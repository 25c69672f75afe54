// Capture start: the checks before the pedal is seized, the seizing itself, and learning
// requests.

#include "harness.h"

namespace {

using namespace harness;

using Capture = Scenario;

const std::string releaseFirst = "Release all mouse buttons and pedals before capture.";
const std::string learnRefused = "Pause and release pedals before learning.";

TEST_F(Capture, StartSeizesThePedalAndBeginsTheIsolatedTest) {
  const auto id = isolated();
  EXPECT_TRUE(sim::opened(id));
  EXPECT_TRUE(sim::listening(id));
  EXPECT_TRUE(statuses.back().captured);
  EXPECT_FALSE(statuses.back().active);
  EXPECT_TRUE(statuses.back().learned.empty());
}

TEST_F(Capture, UnreviewedStartIsRefusedAndTheInspectionKept) {
  const auto id = plugged();
  send([](Backend& b) { b.inspect(); });
  next();
  send([](Backend& b) { b.start(false); });
  const auto status = next();
  EXPECT_EQ(status.message, inspectFirst);
  EXPECT_FALSE(status.captured);
  EXPECT_FALSE(sim::opened(id));
  send([](Backend& b) { b.start(true); });
  EXPECT_EQ(nextMessage(), started);
}

TEST_F(Capture, StartWithoutInspectionIsRefused) {
  plugged();
  send([](Backend& b) { b.start(true); });
  EXPECT_EQ(nextMessage(), inspectFirst);
}

TEST_F(Capture, SecondStartIsRefusedAndCaptureContinues) {
  const auto id = isolated();
  send([](Backend& b) { b.start(true); });
  const auto status = next();
  EXPECT_EQ(status.message, inspectFirst);
  EXPECT_TRUE(status.captured);
  EXPECT_TRUE(sim::listening(id));
}

TEST_F(Capture, DeviceChangedSinceInspectionIsRefused) {
  const auto id = plugged();
  send([](Backend& b) { b.inspect(); });
  next();
  const auto second = sim::plug();
  send([](Backend& b) { b.start(true); });
  EXPECT_EQ(nextMessage(), inspectFirst) << "a second pedal joined";

  sim::unplug(id);
  send([](Backend& b) { b.start(true); });
  EXPECT_EQ(nextMessage(), inspectFirst) << "one pedal, but not the inspected one";
  EXPECT_FALSE(sim::opened(second));
}

TEST_F(Capture, InputMonitoringLostSinceInspectionIsRefused) {
  plugged();
  send([](Backend& b) { b.inspect(); });
  next();
  sim::grantListen(false);
  send([](Backend& b) { b.start(true); });
  EXPECT_EQ(nextMessage(), inspectFirst);
}

TEST_F(Capture, PedalThatCannotBeIdentifiedIsNeverSeized) {
  const auto id = plugged();
  sim::fail(sim::Op::registryEntryID);
  send([](Backend& b) { b.inspect(); });
  EXPECT_EQ(nextMessage(),
            "VEC USB Footpedal · 05f3:00ff · two-byte candidate protocol · registry 0. Physical "
            "compatibility unverified.");
  send([](Backend& b) { b.start(true); });
  EXPECT_EQ(nextMessage(), inspectFirst);
  EXPECT_FALSE(sim::opened(id));
}

TEST_F(Capture, HeldMouseButtonRefusesUntilReleased) {
  const auto id = plugged();
  send([](Backend& b) { b.inspect(); });
  next();
  for (std::uint32_t button : {1u, 4u}) {
    sim::holdButton(button, true);
    send([](Backend& b) { b.start(true); });
    EXPECT_EQ(nextMessage(), releaseFirst) << button;
    EXPECT_FALSE(sim::opened(id));
    sim::holdButton(button, false);
  }
  sim::holdButton(5, true);  // not among the buttons that must be up
  send([](Backend& b) { b.start(true); });
  EXPECT_EQ(nextMessage(), started) << "the inspection outlived the refusals";
}

TEST_F(Capture, RefusedExclusiveOpenStartsNothing) {
  const auto id = plugged();
  send([](Backend& b) { b.inspect(); });
  next();
  sim::fail(sim::Op::deviceOpen);
  send([](Backend& b) { b.start(true); });
  const auto status = next();
  EXPECT_EQ(status.message,
            "Exclusive HID access refused. Quit other readers; check permissions. No capture "
            "started.");
  EXPECT_FALSE(status.captured);
  EXPECT_FALSE(sim::listening(id));
  expectQuiet();  // no watchdog runs for a capture that never began

  sim::heal(sim::Op::deviceOpen);
  send([](Backend& b) { b.start(true); });
  EXPECT_EQ(nextMessage(), started);
}

TEST_F(Capture, LearnIsRefusedUnlessCapturedWithNothingHeld) {
  plugged();
  send([](Backend& b) { b.learn("left"); });
  EXPECT_EQ(nextMessage(), learnRefused) << "not captured";
}

TEST_F(Capture, LearnRefusesUnknownNamesAndHeldPedals) {
  const auto id = isolated();
  for (const char* name : {"", "Left", "centre"}) {
    send([name](Backend& b) { b.learn(name); });
    EXPECT_EQ(nextMessage(), learnRefused) << name;
  }
  deliver(id, {0, 0});
  next();
  deliver(id, {right, 0});
  EXPECT_EQ(nextMessage(), "Isolated / paused · learned:  · held: 4");
  send([](Backend& b) { b.learn("right"); });
  EXPECT_EQ(nextMessage(), learnRefused);
}

TEST_F(Capture, LearnWhileActiveIsRefusedAndAcceptedAfterPause) {
  activated(mapped("none", "none", "none"));
  send([](Backend& b) { b.learn("left"); });
  EXPECT_EQ(nextMessage(), learnRefused);
  send([](Backend& b) { b.pause(); });
  next();
  send([](Backend& b) { b.learn("left"); });
  const auto status = next();
  EXPECT_EQ(status.message, "Press and release only the left pedal.");
  EXPECT_EQ(status.learned, (std::vector<std::string>{"middle", "right"}))
      << "learning a pedal again forgets it first";
}

TEST_F(Capture, NewLearningRequestReplacesAnOpenOne) {
  const auto id = isolated();
  deliver(id, {0, 0});
  next();
  send([](Backend& b) { b.learn("left"); });
  next();
  send([](Backend& b) { b.learn("middle"); });
  next();
  deliver(id, {left, 0});
  next();
  deliver(id, {0, 0});
  const auto status = next();
  EXPECT_EQ(status.message, "Isolated / paused · learned: middle · held: 0");
  EXPECT_EQ(status.learned, std::vector<std::string>{"middle"});
}

TEST_F(Capture, EachCaptureAfterAStopHandlesAReportOnce) {
  const auto id = isolated();
  const auto again = [&] {
    send([](Backend& b) { b.inspect(); });
    next();
    send([](Backend& b) { b.start(true); });
    ASSERT_EQ(nextMessage(), started);
    deliver(id, {0, 0});
    EXPECT_EQ(nextMessage(), "Isolated / paused · learned:  · held: 0");
    expectQuiet();  // one report, one status: no callback of an earlier capture is left
  };
  send([](Backend& b) { b.stop("Capture stopped. Original input restored."); });
  next();
  again();
  // Stopped from inside the report's own callback this time.
  deliver(id, {0, 0, 0});
  EXPECT_EQ(nextMessage(), "Unsupported report or input failure.");
  again();
}

TEST_F(Capture, StartForgetsWhatAnEarlierCaptureLearned) {
  const auto id = learned();
  send([](Backend& b) { b.stop("Capture stopped. Original input restored."); });
  EXPECT_FALSE(next().captured);
  EXPECT_FALSE(sim::opened(id));
  send([](Backend& b) { b.inspect(); });
  next();
  send([](Backend& b) { b.start(true); });
  const auto status = next();
  EXPECT_EQ(status.message, started);
  EXPECT_TRUE(status.learned.empty());
}

}  // namespace
