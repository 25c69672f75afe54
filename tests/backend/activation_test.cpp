// Activation, pause and the mouse guard's event tap.

#include "harness.h"

namespace {

using namespace harness;

using Activation = Scenario;

const std::string tapRefused = "Mouse event tap refused. Guard not available; capture stopped.";

TEST_F(Activation, RefusedUnlessEverythingIsSafe) {
  const auto id = isolated();
  deliver(id, {0, 0});
  next();
  learn(id, "left", left);
  learn(id, "middle", middle);
  send([](Backend& b) { b.activate(true); });
  EXPECT_EQ(nextMessage(), refusedActivation) << "two pedals learned";

  send([](Backend& b) { b.learn("right"); });
  next();
  send([](Backend& b) { b.activate(true); });
  EXPECT_EQ(nextMessage(), refusedActivation) << "learning pending";
  deliver(id, {right, 0});
  next();
  deliver(id, {0, 0});
  next();

  deliver(id, {left, 0});
  next();
  send([](Backend& b) { b.activate(true); });
  EXPECT_EQ(nextMessage(), refusedActivation) << "a pedal held";
  deliver(id, {0, 0});
  next();

  send([](Backend& b) { b.activate(false); });
  EXPECT_EQ(nextMessage(), refusedActivation) << "not verified";
  sim::grantPost(false);
  send([](Backend& b) { b.activate(true); });
  EXPECT_EQ(nextMessage(), refusedActivation) << "no posting access";
  sim::grantPost(true);

  send([](Backend& b) { b.activate(true); });
  const auto status = next();
  EXPECT_EQ(status.message, "Actions active in the focused app. Guard: off. Keep Quillfen open.");
  EXPECT_TRUE(status.active);
  EXPECT_FALSE(sim::tapLive()) << "no guard, no tap";
  EXPECT_EQ(sim::click(platform::rightMouseDown, 1), sim::Mouse::unseen);

  send([](Backend& b) { b.activate(true); });
  const auto again = next();
  EXPECT_EQ(again.message, refusedActivation) << "already active";
  EXPECT_TRUE(again.active);
}

TEST_F(Activation, RefusedWhenNotCaptured) {
  backend->launch();
  send([](Backend& b) { b.activate(true); });
  const auto status = next();
  EXPECT_EQ(status.message, refusedActivation);
  EXPECT_FALSE(status.active);
}

TEST_F(Activation, RefusedWithoutAccessibility) {
  learned();
  sim::grantAccessibility(false);
  send([](Backend& b) { b.activate(true); });
  EXPECT_EQ(nextMessage(), refusedActivation);
  EXPECT_FALSE(sim::tapLive());
}

TEST_F(Activation, RightGuardDropsRightClicksForAQuarterSecondAfterAPress) {
  const auto id = activated(mapped("space", "none", "none", "right"));
  EXPECT_TRUE(sim::tapLive());
  EXPECT_EQ(sim::click(platform::rightMouseDown, 1), sim::Mouse::passed) << "not armed yet";
  EXPECT_EQ(sim::click(platform::rightMouseUp, 1), sim::Mouse::passed);

  deliver(id, {left, 0});
  ASSERT_TRUE(eventually([] { return sim::postedCount() == 2; }));
  sim::advance(249);
  EXPECT_EQ(sim::click(platform::leftMouseDown, 0), sim::Mouse::passed) << "left is not guarded";
  EXPECT_EQ(sim::click(platform::leftMouseUp, 0), sim::Mouse::passed);
  EXPECT_EQ(sim::click(platform::rightMouseDown, 1, eventTag), sim::Mouse::passed)
      << "the program's own events pass";
  EXPECT_EQ(sim::click(platform::rightMouseDown, 1), sim::Mouse::dropped);
  sim::advance(1000);
  EXPECT_EQ(sim::click(platform::rightMouseUp, 1), sim::Mouse::dropped) << "its up goes with it";
  EXPECT_EQ(sim::click(platform::rightMouseDown, 1), sim::Mouse::passed) << "window over";
}

TEST_F(Activation, AllGuardCoversOtherButtons) {
  const auto id = activated(mapped("scrollUp", "none", "none", "all"));
  deliver(id, {left, 0});
  ASSERT_TRUE(eventually([] { return sim::postedCount() == 1; }));
  EXPECT_EQ(sim::click(platform::otherMouseDown, 2), sim::Mouse::dropped);
  EXPECT_EQ(sim::click(platform::otherMouseDown, 3), sim::Mouse::dropped);
  sim::advance(300);
  EXPECT_EQ(sim::click(platform::otherMouseUp, 2), sim::Mouse::dropped);
  EXPECT_EQ(sim::click(platform::otherMouseDown, 2), sim::Mouse::passed);
}

class Refusal : public Scenario, public ::testing::WithParamInterface<sim::Op> {};

TEST_P(Refusal, TapThatCannotGuardStopsCapture) {
  const auto id = learned();
  sim::fail(GetParam());
  send([](Backend& b) {
    b.configure(mapped("space", "none", "none", "all"));
    b.activate(true);
  });
  const auto status = next();
  EXPECT_EQ(status.message, tapRefused);
  EXPECT_FALSE(status.active);
  EXPECT_FALSE(status.captured);
  EXPECT_FALSE(sim::opened(id));
  EXPECT_FALSE(sim::tapLive());
}

INSTANTIATE_TEST_SUITE_P(Activation, Refusal,
                         ::testing::Values(sim::Op::tapCreate, sim::Op::tapSource));

class Disabled : public Scenario, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(Disabled, DisabledTapStopsCapture) {
  const auto id = activated(mapped("space", "none", "none", "all"));
  ASSERT_TRUE(sim::disableTap(GetParam()));
  const auto status = next();
  EXPECT_EQ(status.message, "Mouse tap disabled; capture stopped. Inspect again.");
  EXPECT_FALSE(status.captured);
  EXPECT_FALSE(sim::opened(id));
  EXPECT_FALSE(sim::tapLive()) << "not re-enabled";
}

INSTANTIATE_TEST_SUITE_P(Activation, Disabled,
                         ::testing::Values(platform::tapDisabledByTimeout,
                                           platform::tapDisabledByUserInput));

TEST_F(Activation, PauseRemovesTheGuardAndForgetsBlockedClicks) {
  const auto id = activated(mapped("space", "none", "none", "right"));
  deliver(id, {left, 0});
  ASSERT_TRUE(eventually([] { return sim::postedCount() == 2; }));
  EXPECT_EQ(sim::click(platform::rightMouseDown, 1), sim::Mouse::dropped);

  send([](Backend& b) { b.pause(); });
  const auto status = next();
  EXPECT_EQ(status.message, paused);
  EXPECT_TRUE(status.captured);
  EXPECT_FALSE(status.active);
  EXPECT_FALSE(sim::tapLive());
  EXPECT_EQ(sim::click(platform::rightMouseUp, 1), sim::Mouse::unseen);
  EXPECT_TRUE(sim::listening(id)) << "the pedal stays seized";

  deliver(id, {0, 0});
  EXPECT_EQ(nextMessage(), "Isolated / paused · learned: left, middle, right · held: 0");
  send([](Backend& b) { b.activate(true); });
  next();
  EXPECT_EQ(sim::click(platform::rightMouseUp, 1), sim::Mouse::passed)
      << "the blocked down was forgotten";
}

TEST_F(Activation, PauseWhileIdleStillPublishes) {
  plugged();
  send([](Backend& b) { b.pause(); });
  const auto status = next();
  EXPECT_EQ(status.message, paused);
  EXPECT_FALSE(status.active);
  EXPECT_FALSE(status.captured);
}

TEST_F(Activation, StopWhileActiveReleasesPedalAndGuard) {
  const auto id = activated(mapped("space", "none", "none", "all"));
  send([](Backend& b) { b.stop("Capture stopped. Original input restored."); });
  const auto status = next();
  EXPECT_EQ(status.message, "Capture stopped. Original input restored.");
  EXPECT_FALSE(status.active);
  EXPECT_FALSE(status.captured);
  EXPECT_TRUE(status.learned.empty());
  EXPECT_FALSE(sim::opened(id));
  EXPECT_FALSE(sim::tapLive());
  send([](Backend& b) { b.start(true); });
  EXPECT_EQ(nextMessage(), inspectFirst) << "nothing resumes without a new inspection";
}

}  // namespace
