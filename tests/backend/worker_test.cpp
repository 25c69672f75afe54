// The command channel, the worker's watchdog, stop, close, publish and configure.

#include <atomic>

#include "harness.h"

namespace {

using namespace harness;

using Worker = Scenario;

TEST_F(Worker, CommandsQueuedBeforeLaunchRunInOrderInTheFirstPass) {
  send([](Backend& b) { b.configure(Settings(2)); });
  send([](Backend& b) { b.inspect(); });
  send([](Backend& b) { b.stop("third"); });
  backend->launch();
  EXPECT_EQ(nextMessage(), "Invalid configuration.");
  EXPECT_EQ(nextMessage(),
            "Found 0 matching VEC HID services. Exactly one is required; composite or identical "
            "devices are not eligible.");
  EXPECT_EQ(nextMessage(), "third");
}

TEST_F(Worker, CommandSentByACommandRunsInALaterPass) {
  backend->launch();
  send([](Backend& b) {
    b.send([&b] { b.stop("inner"); });
    b.stop("outer");
  });
  EXPECT_EQ(nextMessage(), "outer");
  EXPECT_EQ(nextMessage(), "inner");
}

TEST_F(Worker, StatusesWithoutUpdateAreDropped) {
  backend->update = nullptr;
  backend->launch();
  send([](Backend& b) { b.stop("dropped"); });
  ASSERT_TRUE(queue->drain(true));
  backend->update = [this](const std::string& message, bool, bool,
                           const std::vector<std::string>&) {
    statuses.push_back({message, false, false, {}});
  };
  send([](Backend& b) { b.stop("shown"); });
  EXPECT_EQ(nextMessage(), "shown");
}

TEST_F(Worker, StatusCarriesTheFlagsOfItsMoment) {
  const auto id = plugged();
  send([](Backend& b) { b.inspect(); });
  next();
  send([](Backend& b) {
    b.start(true);
    b.stop("Capture stopped. Original input restored.");
  });
  const auto started = next();
  EXPECT_TRUE(started.captured) << "delivered after the stop, but published before it";
  const auto stopped = next();
  EXPECT_EQ(stopped.message, "Capture stopped. Original input restored.");
  EXPECT_FALSE(stopped.captured);
  EXPECT_FALSE(sim::opened(id)) << "the pedal is released";
}

TEST_F(Worker, HeartbeatExactlyAtTheLimitKeepsCapture) {
  const auto id = isolated();
  backend->ping();
  sim::advance(5000);
  expectQuiet();
  EXPECT_TRUE(sim::listening(id));

  sim::advance(0.5);
  const auto status = next();
  EXPECT_EQ(status.message, "Settings window heartbeat lost. Capture stopped.");
  EXPECT_FALSE(status.captured);
  EXPECT_FALSE(sim::opened(id));
}

TEST_F(Worker, PingKeepsCaptureAlive) {
  isolated();
  for (int second = 0; second < 8; ++second) {
    sim::advance(1000);
    backend->ping();
  }
  expectQuiet();
}

TEST_F(Worker, StaleHeartbeatMattersOnlyWhileCaptured) {
  sim::plug();
  backend->launch();
  sim::advance(6000);
  expectQuiet();

  send([](Backend& b) { b.inspect(); });
  next();
  send([](Backend& b) { b.start(true); });
  EXPECT_EQ(nextMessage(), started);
  const auto status = next();
  EXPECT_EQ(status.message, "Settings window heartbeat lost. Capture stopped.");
  EXPECT_FALSE(status.captured);
}

TEST_F(Worker, RecoveryChordStopsCaptureWhateverElseIsHeld) {
  const auto id = isolated();
  sim::setFlags(platform::flagControl | platform::flagShift | platform::flagCommand | 0x10000);
  sim::holdKey(platform::keyF12, true);
  expectQuiet();  // Option is missing

  sim::setFlags(platform::flagControl | platform::flagShift | platform::flagOption |
                platform::flagCommand);
  EXPECT_EQ(nextMessage(), "Recovery chord pressed.");
  EXPECT_FALSE(sim::opened(id));
  expectQuiet();  // nothing is captured any more, so the held chord does nothing
}

TEST_F(Worker, ChordWithoutF12DoesNothing) {
  isolated();
  sim::setFlags(platform::flagControl | platform::flagShift | platform::flagOption);
  sim::holdKey(103, true);  // F11
  expectQuiet();
}

TEST_F(Worker, InputMonitoringLostWhileCapturedStops) {
  const auto id = isolated();
  sim::grantListen(false);
  EXPECT_EQ(nextMessage(), changed);
  EXPECT_FALSE(sim::opened(id));
}

TEST_F(Worker, AccessibilityIsRequiredOnlyWhileActive) {
  learned();
  sim::grantAccessibility(false);
  expectQuiet();
  sim::grantAccessibility(true);
  send([](Backend& b) { b.activate(true); });
  EXPECT_EQ(nextMessage(), "Actions active in the focused app. Guard: off. Keep Quillfen open.");
  sim::grantAccessibility(false);
  const auto status = next();
  EXPECT_EQ(status.message, changed);
  EXPECT_FALSE(status.active);
  EXPECT_FALSE(status.captured);
}

TEST_F(Worker, PedalUnpluggedWhileCapturedStops) {
  const auto id = isolated();
  sim::unplug(id);
  EXPECT_EQ(nextMessage(), changed);
  EXPECT_FALSE(sim::opened(id)) << "the vanished device is closed all the same";
}

TEST_F(Worker, PedalExchangedWhileCapturedStops) {
  const auto id = isolated();
  sim::unplug(id);
  const auto other = sim::plug();
  EXPECT_EQ(nextMessage(), changed);
  EXPECT_FALSE(sim::opened(id));
  EXPECT_FALSE(sim::opened(other));
}

TEST_F(Worker, SecondMatchingDeviceWhileCapturedStops) {
  const auto id = isolated();
  sim::Properties other;
  other.vendor = 0x046D;
  sim::plug(other);
  expectQuiet();  // another vendor's device is no concern

  sim::plug();
  EXPECT_EQ(nextMessage(), changed);
  EXPECT_FALSE(sim::opened(id));
}

TEST_F(Worker, StopWhileIdleForgetsTheInspection) {
  plugged();
  send([](Backend& b) { b.inspect(); });
  next();
  send([](Backend& b) { b.stop("Session or sleep changed. Inspect again."); });
  const auto status = next();
  EXPECT_EQ(status.message, "Session or sleep changed. Inspect again.");
  EXPECT_FALSE(status.captured);
  send([](Backend& b) { b.start(true); });
  EXPECT_EQ(nextMessage(), inspectFirst);
}

TEST_F(Worker, CloseWhileActiveReleasesEverythingAndEndsTheWorker) {
  const auto id = activated(mapped("space", "none", "none", "all"));
  ASSERT_TRUE(sim::tapLive());
  backend->close();
  auto* raw = backend.get();
  std::atomic<bool> late{false};
  EXPECT_EQ(nextMessage(), "Stopped.");
  const auto closed = next();
  EXPECT_EQ(closed.message, "Closed.");
  EXPECT_FALSE(closed.captured);
  EXPECT_FALSE(closed.active);
  EXPECT_FALSE(sim::opened(id));
  EXPECT_FALSE(sim::tapLive());

  raw->send([&late] { late = true; });
  finish();
  EXPECT_FALSE(late) << "a command sent after the final pass ran";
  EXPECT_EQ(statuses.size(), seen) << "nothing after \"Closed.\"";
}

TEST_F(Worker, ConfigureIsRefusedWhileActiveAndAcceptedAfterPause) {
  const auto id = activated(mapped("space", "none", "none"));
  const auto enter = mapped("enter", "none", "none");
  send([enter](Backend& b) { b.configure(enter); });
  EXPECT_EQ(nextMessage(), "Pause actions before configuration.");
  deliver(id, {left, 0});
  deliver(id, {0, 0});
  ASSERT_TRUE(eventually(sim::settled));
  EXPECT_EQ(sim::posted()[0].key, 49) << "the refused settings did not apply";

  send([](Backend& b) { b.pause(); });
  EXPECT_EQ(nextMessage(), paused);
  send([enter](Backend& b) { b.configure(enter); });
  expectQuiet();
  send([](Backend& b) { b.activate(true); });
  next();
  deliver(id, {left, 0});
  ASSERT_TRUE(eventually([] { return sim::postedCount() == 4; }));
  EXPECT_EQ(sim::posted()[2].key, 36);
}

TEST_F(Worker, InvalidConfigurationKeepsTheSettingsInForce) {
  backend->launch();
  send([](Backend& b) { b.configure(mapped("f13", "none", "none")); });
  send([](Backend& b) { b.configure(mapped("F13", "none", "none")); });
  EXPECT_EQ(nextMessage(), "Invalid configuration.");
  send([](Backend& b) { b.stop(b.settings.mappings.at("left")); });
  EXPECT_EQ(nextMessage(), "f13");
}

TEST_F(Worker, EveryPassEndsItsAutoreleasePool) {
  const auto pools = sim::pools();
  const auto runs = sim::runs();
  plugged();
  passes(5);
  finish();
  EXPECT_GE(sim::pools() - pools, sim::runs() - runs)
      << "what the frameworks autorelease on the worker would pile up for the life of the thread";
}

TEST_F(Worker, PermissionRequestsNeverWaitForTheUsersAnswer) {
  backend->launch();
  sim::grantListen(false);
  sim::grantAccessibility(false);
  std::mutex mutex;
  std::condition_variable over;
  bool done = false;
  std::atomic<bool> answered{false};
  // The user answers the system's alerts when the test is over, or after the deadline.
  std::thread user([&] {
    std::unique_lock hold(mutex);
    over.wait_for(hold, deadline, [&] { return done; });
    answered = true;
    sim::grantListen(true);
  });
  // What Permissions does on the main thread, whose heartbeat keeps capture alive.
  platform::requestListenEventAccess();
  platform::isProcessTrustedWithPrompt();
  EXPECT_FALSE(answered) << "the main thread waited for the user's answer";
  EXPECT_GE(sim::requests(), 2);
  {
    std::lock_guard hold(mutex);
    done = true;
  }
  over.notify_all();
  user.join();
}

TEST_F(Worker, WithoutAManagerNothingIsEverFound) {
  sim::fail(sim::Op::managerCreate);
  sim::plug();
  backend->launch();
  send([](Backend& b) { b.inspect(); });
  EXPECT_EQ(nextMessage(),
            "Found 0 matching VEC HID services. Exactly one is required; composite or identical "
            "devices are not eligible.");
  // With nothing on its run loop the worker still waits 20 ms per pass instead of spinning.
  const auto begin = std::chrono::steady_clock::now();
  passes(5);
  EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(80));
}

}  // namespace
