// Run loops of the simulated platform: each thread has one; other threads hand it work (input
// reports, mouse events), which it handles while it runs.

#include <chrono>

#include "platform/sim/world.h"

namespace platform {

RunLoop runLoopGetCurrent() {
  thread_local const RunLoop loop = std::make_shared<RunLoopObject>();
  return loop;
}

int runLoopRunInMode(double seconds, bool returnAfterSourceHandled) {
  sim::state().runs.fetch_add(1);
  const RunLoop loop = runLoopGetCurrent();
  {
    std::lock_guard hold(sim::world().mutex);
    if (loop->sources == 0)
      return runFinished;
  }
  // The wait is in real time: the simulated clock moves only when a test moves it.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  std::unique_lock hold(loop->mutex);
  for (;;) {
    if (!loop->wake.wait_until(hold, deadline,
                               [&] { return loop->stopped || !loop->pending.empty(); }))
      return runTimedOut;
    // Work handed over before the stop is handled first, as a source ready before it would be.
    if (loop->pending.empty()) {
      loop->stopped = false;
      return runTimedOut;
    }
    auto work = std::move(loop->pending.front());
    loop->pending.pop_front();
    hold.unlock();
    const bool handled = work();
    sim::state().pending.fetch_sub(1);
    hold.lock();
    if (handled && returnAfterSourceHandled)
      return runHandledSource;
  }
}

void runLoopStop(const RunLoop& runLoop) {
  if (!runLoop)
    return;
  {
    std::lock_guard hold(runLoop->mutex);
    runLoop->stopped = true;
  }
  runLoop->wake.notify_one();
}

// Permissions, keys and devices change at the tests' hands, which reach no run loop.
bool statePolled() {
  return true;
}

void runLoopAddSource(const RunLoop& runLoop, const Source& source) {
  if (!runLoop || !source)
    return;
  std::lock_guard hold(sim::world().mutex);
  if (source->loop.lock() == runLoop)
    return;
  if (auto old = source->loop.lock())
    --old->sources;
  source->loop = runLoop;
  ++runLoop->sources;
}

void runLoopRemoveSource(const RunLoop& runLoop, const Source& source) {
  if (!runLoop || !source)
    return;
  std::lock_guard hold(sim::world().mutex);
  if (source->loop.lock() != runLoop)
    return;
  --runLoop->sources;
  source->loop.reset();
}

// The simulated platform has no autorelease pools; it counts the ones the program makes.
Pool::Pool() : token(nullptr) {}

Pool::~Pool() {
  sim::state().pools.fetch_add(1);
}

}  // namespace platform

namespace sim {

void hand(const std::shared_ptr<platform::RunLoopObject>& loop, std::function<bool()> work) {
  sim::state().pending.fetch_add(1);
  {
    std::lock_guard hold(loop->mutex);
    loop->pending.push_back(std::move(work));
  }
  loop->wake.notify_one();
}

}  // namespace sim
