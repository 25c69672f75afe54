// Run loops in the framework double: one per thread, made on first use and released when the
// thread ends (CFRunLoop.h: "run loops are created as needed"). A source's work is done only by the
// thread of the run loop it is on, inside CFRunLoopRunInMode. The mach port of an event tap and its
// run-loop source hold each other until the port is invalidated (CF-Lite, CFMachPort.c).

#include <chrono>

#include "platform/frameworks/world.h"

namespace frameworks {

namespace {

// Work left on a run loop whose thread has ended is never done, and none is taken after it: the
// flag is set under the same lock `hand` tests it under.
void endLoop(RunLoop& loop) {
  std::lock_guard hold(loop.mutex);
  loop.ended = true;
  sim::state().pending.fetch_sub(static_cast<std::int64_t>(loop.pending.size()));
  loop.pending.clear();
}

struct Holder {
  RunLoop* loop = nullptr;
  ~Holder() {
    if (loop == nullptr)
      return;
    endLoop(*loop);
    release(loop);
  }
};

thread_local Holder holder;

void releaseSource(Object& object) {
  release(static_cast<Source&>(object).port);
}

}  // namespace

RunLoop& currentLoop() {
  if (holder.loop == nullptr) {
    holder.loop = make<RunLoop>();
    holder.loop->thread = std::this_thread::get_id();
  }
  return *holder.loop;
}

void onLoopThread(const RunLoop* loop, const char* what) {
  // An object scheduled on a run loop calls back on that loop's thread; the program touches it
  // only there (Threading Programming Guide, "Run Loops": configure a run loop from its own
  // thread).
  if (loop != nullptr && loop->thread != std::this_thread::get_id())
    fault(std::string(what) + " from a thread other than that of the run loop it is scheduled on");
}

void hand(RunLoop& loop, const Object* source, std::function<void()> work) {
  {
    std::lock_guard hold(loop.mutex);
    if (loop.ended)
      return;
    sim::state().pending.fetch_add(1);
    loop.pending.push_back({source, std::move(work)});
  }
  loop.wake.notify_one();
}

void schedule(RunLoop& loop, const Object* source) {
  loop.sources.insert(source);
}

void unschedule(RunLoop& loop, const Object* source) {
  loop.sources.erase(source);
}

void defaultMode(CFRunLoopMode mode, const char* what) {
  if (mode != kCFRunLoopDefaultMode)
    fault(std::string(what) + ": only kCFRunLoopDefaultMode is modelled");
}

}  // namespace frameworks

using namespace frameworks;

CFRunLoopRef CFRunLoopGetCurrent(void) {
  return reference<CFRunLoopRef>(&currentLoop());
}

// Returns kCFRunLoopRunFinished at once when the mode has no sources; otherwise does the work
// handed to its sources until `seconds` pass, or until one source was handled when asked to
// return then (CFRunLoop.h, "Reasons for CFRunLoopRunInMode() to Return").
CFRunLoopRunResult CFRunLoopRunInMode(CFRunLoopMode mode, CFTimeInterval seconds,
                                      Boolean returnAfterSourceHandled) {
  defaultMode(mode, "CFRunLoopRunInMode");
  sim::state().runs.fetch_add(1);
  RunLoop& loop = currentLoop();
  {
    std::lock_guard hold(world().mutex);
    if (loop.sources.empty())
      return kCFRunLoopRunFinished;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  std::unique_lock hold(loop.mutex);
  // A stop belongs to the run it came in (CF-Lite keeps it in the run's own data): each run
  // starts without one, and a stop between runs is lost.
  loop.running = true;
  loop.stopped = false;
  struct Ended {
    RunLoop& loop;
    ~Ended() { loop.running = false; }
  } ended{loop};
  for (;;) {
    if (!loop.wake.wait_until(hold, deadline,
                              [&] { return loop.stopped || !loop.pending.empty(); }))
      return kCFRunLoopRunTimedOut;
    // Work ready before the stop is done first, as CFRunLoop.c handles a ready source before it
    // looks for a stop.
    if (loop.pending.empty())
      return kCFRunLoopRunStopped;
    Work work = std::move(loop.pending.front());
    loop.pending.pop_front();
    hold.unlock();
    bool live;
    {
      std::lock_guard world_(world().mutex);
      live = loop.sources.contains(work.source);
    }
    // Work for a source that has left the loop since it was handed over is never done.
    if (live)
      work.run();
    sim::state().pending.fetch_sub(1);
    hold.lock();
    if (live && returnAfterSourceHandled)
      return kCFRunLoopRunHandledSource;
  }
}

// Any thread may stop a run loop: its current run returns kCFRunLoopRunStopped (CFRunLoop.h).
void CFRunLoopStop(CFRunLoopRef rl) {
  auto& loop = use<RunLoop>(rl, Kind::runLoop, "CFRunLoopStop");
  {
    std::lock_guard hold(loop.mutex);
    if (!loop.running)
      return;
    loop.stopped = true;
  }
  loop.wake.notify_one();
}

// The run loop holds a reference to each of its sources (CFRunLoop.c keeps them in a set with
// kCFTypeSetCallBacks). An invalidated source is never added.
void CFRunLoopAddSource(CFRunLoopRef rl, CFRunLoopSourceRef source, CFRunLoopMode mode) {
  defaultMode(mode, "CFRunLoopAddSource");
  auto& loop = use<RunLoop>(rl, Kind::runLoop, "CFRunLoopAddSource");
  auto& added = use<Source>(source, Kind::source, "CFRunLoopAddSource");
  std::lock_guard hold(world().mutex);
  if (added.loop == &loop || added.port == nullptr || !added.port->valid)
    return;
  if (added.loop != nullptr)
    fault("CFRunLoopAddSource: a source on two run loops is not modelled");
  retain(&added);
  added.loop = &loop;
  schedule(loop, &added);
}

void CFRunLoopRemoveSource(CFRunLoopRef rl, CFRunLoopSourceRef source, CFRunLoopMode mode) {
  defaultMode(mode, "CFRunLoopRemoveSource");
  auto& loop = use<RunLoop>(rl, Kind::runLoop, "CFRunLoopRemoveSource");
  auto& removed = use<Source>(source, Kind::source, "CFRunLoopRemoveSource");
  {
    std::lock_guard hold(world().mutex);
    if (removed.loop != &loop)
      return;
    removed.loop = nullptr;
    unschedule(loop, &removed);
  }
  release(&removed);
}

// One source per port: a second call hands out the same source again (CF-Lite, CFMachPort.c).
CFRunLoopSourceRef CFMachPortCreateRunLoopSource(CFAllocatorRef, CFMachPortRef port, CFIndex) {
  auto& tap = use<Port>(port, Kind::port, "CFMachPortCreateRunLoopSource");
  std::lock_guard hold(world().mutex);
  if (failing(sim::Op::tapSource) || !tap.valid)
    return nullptr;
  if (tap.source == nullptr) {
    auto* made = make<Source>();
    made->finalize = releaseSource;
    made->port = &tap;
    retain(&tap);
    tap.source = made;  // the port keeps this first reference
  }
  retain(tap.source);
  return reference<CFRunLoopSourceRef>(tap.source);
}

// Invalidation takes the port's source off its run loop and breaks the port's hold on it; it may
// come from inside the tap's own callback, which holds a reference to the port meanwhile.
void CFMachPortInvalidate(CFMachPortRef port) {
  auto& tap = use<Port>(port, Kind::port, "CFMachPortInvalidate");
  Source* source;
  bool onLoop = false;
  {
    std::lock_guard hold(world().mutex);
    if (!tap.valid)
      return;
    tap.valid = false;
    tap.enabled = false;
    source = tap.source;
    tap.source = nullptr;
    if (source != nullptr && source->loop != nullptr) {
      unschedule(*source->loop, source);
      source->loop = nullptr;
      onLoop = true;
    }
  }
  if (onLoop)
    release(source);
  if (source != nullptr)
    release(source);
}
