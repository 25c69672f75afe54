#pragma once

// A backend on the simulated platform with its real worker thread. The test thread plays the
// main thread: statuses the worker dispatches wait in a queue until the test drains it, and each
// wait has a deadline.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "backend/backend.h"
#include "platform/sim/sim.h"

namespace harness {

inline constexpr auto deadline = std::chrono::seconds(10);

struct Status {
  std::string message;
  bool captured = false;
  bool active = false;
  std::vector<std::string> learned;
};

// The main queue of the tests: closures dispatched by the worker, run by the test thread.
struct MainQueue {
  std::mutex mutex;
  std::condition_variable ready;
  std::deque<std::function<void()>> closures;

  void push(std::function<void()> closure) {
    {
      std::lock_guard hold(mutex);
      closures.push_back(std::move(closure));
    }
    ready.notify_all();
  }

  // Runs what is queued; with a wait, first waits up to the deadline for something to arrive.
  bool drain(bool wait) {
    std::deque<std::function<void()>> taken;
    {
      std::unique_lock hold(mutex);
      if (wait)
        ready.wait_for(hold, deadline, [&] { return !closures.empty(); });
      taken.swap(closures);
    }
    for (auto& closure : taken)
      closure();
    return !taken.empty();
  }
};

// Polls `done` until it holds or the deadline passes.
inline bool eventually(const std::function<bool()>& done) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end)
      return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

// Waits until the worker has run its run loop `count` more times, so every pass that began
// before the call has ended.
inline void passes(int count = 3) {
  const auto target = sim::runs() + static_cast<std::uint64_t>(count);
  ASSERT_TRUE(eventually([&] { return sim::runs() >= target; })) << "the worker stalled";
}

inline Settings mapped(const std::string& left, const std::string& middle, const std::string& right,
                       const std::string& scope = "off") {
  return Settings(1, {{"left", left}, {"middle", middle}, {"right", right}}, scope);
}

// Bits of the simulated pedal's first report byte.
inline constexpr std::uint8_t left = 1;
inline constexpr std::uint8_t middle = 2;
inline constexpr std::uint8_t right = 4;

inline const std::string started =
    "Isolated test started. Release pedals to establish neutral, then learn each pedal. Verify "
    "originals and ordinary mouse in another app.";
inline const std::string inspectFirst = "Inspect one eligible pedal and review recovery first.";
inline const std::string changed = "Device or input permission changed. Inspect again.";
inline const std::string failed = "Input or action validation failed. Capture stopped.";
inline const std::string refusedActivation =
    "Learn/release all three pedals, verify outputs and mouse, and grant Accessibility before "
    "activation.";
inline const std::string paused =
    "Actions paused; original pedal reports remain seized. Stop restores input.";

class Scenario : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::reset();
    backend = std::make_shared<Backend>();
    backend->dispatch = [queue = queue](std::function<void()> closure) {
      queue->push(std::move(closure));
    };
    backend->update = [this](const std::string& message, bool captured, bool active,
                             const std::vector<std::string>& learned) {
      statuses.push_back({message, captured, active, learned});
    };
  }

  void TearDown() override {
    if (backend)
      finish();
    sim::reset();
  }

  // Closes the backend and waits until its worker has ended and let go of it.
  void finish() {
    backend->close();
    std::weak_ptr<Backend> held = backend;
    backend.reset();
    EXPECT_TRUE(eventually([&] {
      queue->drain(false);
      return held.expired();
    })) << "the worker did not end";
    queue->drain(false);
  }

  void send(std::function<void(Backend&)> command) {
    backend->send([b = backend.get(), command = std::move(command)] { command(*b); });
  }

  // The next status published, in order; fails the test when none arrives in time.
  Status next() {
    while (seen >= statuses.size()) {
      if (!queue->drain(true)) {
        ADD_FAILURE() << "no status arrived";
        return {};
      }
    }
    return statuses[seen++];
  }

  std::string nextMessage() { return next().message; }

  // Asserts that nothing is published while the worker runs a few passes.
  void expectQuiet() {
    passes();
    queue->drain(false);
    for (; seen < statuses.size(); ++seen)
      ADD_FAILURE() << "unexpected status: " << statuses[seen].message;
  }

  // The pedal is plugged in and the backend runs.
  std::uint64_t plugged() {
    const auto id = sim::plug();
    backend->launch();
    return id;
  }

  // The pedal is plugged in, inspected and seized for the isolated test.
  std::uint64_t isolated() {
    const auto id = plugged();
    send([](Backend& b) { b.inspect(); });
    send([](Backend& b) { b.start(true); });
    next();
    EXPECT_EQ(nextMessage(), started);
    return id;
  }

  // Hands one report of the pedal to the worker.
  void deliver(std::uint64_t id, std::vector<std::uint8_t> bytes) {
    ASSERT_TRUE(sim::deliver(id, std::move(bytes)));
  }

  void learn(std::uint64_t id, const std::string& name, std::uint8_t bit) {
    send([name](Backend& b) { b.learn(name); });
    EXPECT_EQ(nextMessage(), "Press and release only the " + name + " pedal.");
    deliver(id, {bit, 0});
    next();
    deliver(id, {0, 0});
    next();
  }

  // Isolated, neutral established and all three pedals learned.
  std::uint64_t learned() {
    const auto id = isolated();
    deliver(id, {0, 0});
    next();
    learn(id, "left", left);
    learn(id, "middle", middle);
    learn(id, "right", right);
    return id;
  }

  // All learned and actions activated with `settings`.
  std::uint64_t activated(const Settings& settings) {
    backend->send([b = backend.get(), settings] { b->configure(settings); });
    const auto id = learned();
    send([](Backend& b) { b.activate(true); });
    EXPECT_EQ(nextMessage(), "Actions active in the focused app. Guard: " + settings.guardScope +
                                 ". Keep Quillfen open.");
    return id;
  }

  std::shared_ptr<MainQueue> queue = std::make_shared<MainQueue>();
  std::shared_ptr<Backend> backend;
  std::vector<Status> statuses;
  std::size_t seen = 0;
};

}  // namespace harness
