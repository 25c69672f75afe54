// Creation, the command channel, the worker thread with its watchdog, stop, publish and
// configure.

#include <algorithm>
#include <chrono>

#include "backend/backend.h"
#include "core/clock.h"
#include "core/failure.h"

namespace {

constexpr std::int64_t vendorID = 0x05F3;
constexpr std::int64_t productID = 0x00FF;
constexpr double heartbeatLimit = 5000;  // ms; lost when strictly older
constexpr double runWait = 0.02;         // s of run loop per pass where the state is polled
constexpr double idleWait = 3600;        // s: the longest wait where every change is a source
constexpr std::uint64_t chord = platform::flagShift | platform::flagControl | platform::flagOption;

// How long a pass's run loop may wait, from `now`. Where the watched state is polled, 20 ms. Where
// every change of it is a source of the run loop, only the heartbeat has a deadline: while
// captured, the wait ends a millisecond after the heartbeat read by this pass would be lost (lost
// is strictly older than the limit); otherwise a source or a command ends it.
double waitFor(bool captured, double beat, double now) {
  if (platform::statePolled())
    return runWait;
  if (!captured)
    return idleWait;
  return std::max(0.0, beat + heartbeatLimit + 1 - now) / 1000;
}

}  // namespace

Backend::Backend() : buffer(std::make_unique_for_overwrite<std::uint8_t[]>(bufferSize)) {
  setUptimeSource(&platform::uptime);
  heartbeat = milliseconds();
}

Backend::~Backend() {
  if (!worker.joinable())
    return;
  // The worker drops its hold on the backend last when the window let go first; it cannot
  // join itself, and it is about to end anyway.
  if (worker.get_id() == std::this_thread::get_id())
    worker.detach();
  else
    worker.join();
}

void Backend::send(Command command) {
  platform::RunLoop waiting;
  {
    std::lock_guard hold(lock);
    commands.push_back(std::move(command));
    waiting = loop;
  }
  // The worker may be waiting for a source: the command starts now, not with the next one.
  platform::runLoopStop(waiting);
}

void Backend::ping() {
  const double now = milliseconds();
  std::lock_guard hold(lock);
  heartbeat = now;
}

void Backend::launch() {
  if (worker.joinable())
    return;
  worker = std::thread([self = shared_from_this()] { self->run(); });
}

void Backend::close() {
  platform::RunLoop waiting;
  {
    std::lock_guard hold(lock);
    commands.push_back([this] { stop("Stopped."); });
    closing = true;
    waiting = loop;
  }
  platform::runLoopStop(waiting);
}

void Backend::run() {
  {
    // What the platform's frameworks autorelease on the worker is released with the pass, or here
    // with the set-up and the close-down, never left to pile up for the life of the thread.
    const platform::Pool pool;
    // A manager that cannot be created leaves `manager` empty: its device set is empty, so every
    // inspection finds nothing and nothing can be captured.
    manager = platform::managerCreate(0);
    platform::managerSetDeviceMatching(manager, vendorID, productID);
    const platform::RunLoop current = platform::runLoopGetCurrent();
    platform::managerScheduleWithRunLoop(manager, current);
    std::lock_guard hold(lock);
    loop = current;
  }

  for (;;) {
    const platform::Pool pool;
    std::vector<Command> taken;
    const double now = milliseconds();
    double beat;
    bool ending;
    {
      std::lock_guard hold(lock);
      taken.swap(commands);
      beat = heartbeat;
      ending = closing;
    }
    for (auto& command : taken)
      command();
    if (ending)
      break;
    if (captured)
      watch(now, beat);
    const double wait = waitFor(captured, beat, milliseconds());
    // A run loop with no sources returns at once; wait anyway, so that the pass never spins.
    if (platform::runLoopRunInMode(wait, true) == platform::runFinished)
      std::this_thread::sleep_for(std::chrono::duration<double>(std::min(wait, runWait)));
  }

  const platform::Pool pool;
  stop("Closed.");
  platform::managerClose(manager, 0);
  platform::managerUnscheduleFromRunLoop(manager, platform::runLoopGetCurrent());
  // Released here, on the worker like every HID object, not with the backend on whichever thread
  // lets go of it last.
  manager.reset();
  buffer.reset();
}

void Backend::watch(double now, double beat) {
  if (now - beat > heartbeatLimit) {
    stop("Settings window heartbeat lost. Capture stopped.");
    return;
  }
  if (!eligible()) {
    stop("Device or input permission changed. Inspect again.");
    return;
  }
  if (platform::keyState(platform::combinedSessionState, platform::keyF12) &&
      (platform::flagsState(platform::combinedSessionState) & chord) == chord)
    stop("Recovery chord pressed.");
}

bool Backend::eligible() {
  if (!platform::preflightListenEventAccess())
    return false;
  if (active && !platform::isProcessTrusted())
    return false;
  return platform::deviceRegistryEntryID(device) == identity && onlyInspectedPresent();
}

// The one device present is the inspected one: the selected reference still answers its own ID
// after its pedal is unplugged, so only the present device's ID tells an exchanged pedal apart.
bool Backend::onlyInspectedPresent() {
  const auto devices = platform::managerCopyDevices(manager);
  return devices.size() == 1 && platform::deviceRegistryEntryID(devices.front()) == identity;
}

void Backend::stop(const std::string& message) {
  active = false;
  clearTap();
  if (device) {
    platform::deviceRegisterInputReportCallback(device, buffer.get(), bufferSize, nullptr, nullptr);
    platform::deviceUnscheduleFromRunLoop(device, platform::runLoopGetCurrent());
    platform::deviceClose(device, 0);
  }
  captured = false;
  device.reset();
  selected.reset();
  identity = 0;
  decoder.reset();
  publish(message);
}

void Backend::publish(const std::string& message) {
  if (!dispatch)
    return;
  std::vector<std::string> names;
  for (const auto& entry : decoder.learned)
    names.push_back(entry.first);
  dispatch([self = shared_from_this(), message, captured = captured, active = active,
            names = std::move(names)] {
    if (self->update)
      self->update(message, captured, active, names);
  });
}

void Backend::configure(const Settings& next) {
  if (active) {
    publish("Pause actions before configuration.");
    return;
  }
  try {
    next.validate();
  } catch (const Failure&) {
    publish("Invalid configuration.");
    return;
  }
  settings = next;
}
