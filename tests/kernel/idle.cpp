// The worker while a pedal is captured and nothing happens: it sleeps, and a command, the
// recovery chord, a device change and the heartbeat's deadline each end the sleep at once.

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "tests/kernel/checks.h"
#include "tests/kernel/devices.h"

namespace kerneltest {

namespace {

// The backend's worker thread, asked of a command it runs; 0 when it does not answer.
pid_t workerThread(Harness& h) {
  auto tid = std::make_shared<std::atomic<pid_t>>(0);
  h.send([tid](Backend&) { *tid = gettid(); });
  for (const double end = now() + 2; now() < end && *tid == 0;)
    sleepFor(0.001);
  return *tid;
}

// The thread's voluntary context switches: each is a sleep that some event ended.
long sleeps(pid_t thread) {
  std::ifstream status("/proc/self/task/" + std::to_string(thread) + "/status");
  for (std::string line; std::getline(status, line);) {
    long count = 0;
    if (std::sscanf(line.c_str(), "voluntary_ctxt_switches: %ld", &count) == 1)
      return count;
  }
  return -1;
}

// A fresh heartbeat, read by a pass of the worker: its deadline is five seconds away, so nothing
// but the event under test can end its next wait early.
bool freshPass(Harness& h) {
  h.pump();
  auto ran = std::make_shared<std::atomic<bool>>(false);
  h.send([ran](Backend&) { *ran = true; });
  for (const double end = now() + 2; now() < end && !*ran;)
    sleepFor(0.001);
  return *ran;
}

// Seconds from now until `text` is published, pumping statuses (and pinging) meanwhile; -1 when
// it does not come within `seconds`.
double until(Harness& h, const std::string& text, double seconds, bool ping = true) {
  const double start = now();
  const std::size_t from = h.statuses.size();
  for (const double end = start + seconds; now() < end; sleepFor(0.001)) {
    h.pump(ping);
    for (std::size_t i = from; i < h.statuses.size(); ++i)
      if (h.statuses[i] == text)
        return now() - start;
  }
  return -1;
}

}  // namespace

void idleWorker(Harness& h, const std::string& line, Virtual& keyboard) {
  const auto capture = [&] {
    return h.inspect(line) && h.run([](Backend& b) { b.start(true); }, started);
  };
  const pid_t worker = workerThread(h);

  // Captured and idle for two seconds, with the heartbeat coming every 100 ms: the worker sleeps
  // through it (its heartbeat deadline is five seconds after the last beat it read).
  {
    const bool captured = capture() && freshPass(h);
    const long before = sleeps(worker);
    for (int i = 0; i < 20; ++i) {
      sleepFor(0.1);
      h.pump();
    }
    const long woken = sleeps(worker) - before;
    check(captured && worker != 0 && before >= 0 && woken <= 1, "idle-sleeps",
          "worker thread %d woke %ld times in 2 s captured and idle", worker, woken);
  }

  // A command sent while the worker sleeps starts at once.
  {
    std::vector<double> delays;
    for (int i = 0; i < 10; ++i) {
      freshPass(h);
      sleepFor(0.05);
      auto ran = std::make_shared<std::atomic<double>>(0);
      const double sent = now();
      h.send([ran](Backend&) { *ran = now(); });
      for (const double end = sent + 2; now() < end && *ran == 0;)
        sleepFor(0.0005);
      delays.push_back(*ran == 0 ? 2 : *ran - sent);
    }
    std::sort(delays.begin(), delays.end());
    check(delays[4] <= 0.02, "idle-command-wakes",
          "a command sent to the sleeping worker starts after %.2f ms (median of 10, longest "
          "%.2f ms)",
          delays[4] * 1000, delays.back() * 1000);
  }

  // What a stop itself takes, from the command to its status: ending the grabs waits for the
  // kernel's read-side critical sections to end (synchronize_rcu). The times below include it.
  {
    const bool fresh = freshPass(h);
    const double sent = now();
    const bool stopped = fresh && h.run([](Backend& b) { b.stop("Stopped."); }, "Stopped.");
    info("a stop sent to the sleeping worker publishes its status after %.1f ms (%d)",
         (now() - sent) * 1000, stopped);
  }

  // The recovery chord on the test keyboard ends the sleep at once.
  {
    const bool fresh = capture() && freshPass(h);
    for (const std::uint16_t key :
         std::initializer_list<std::uint16_t>{KEY_LEFTCTRL, KEY_LEFTALT, KEY_LEFTSHIFT, KEY_F12})
      keyboard.emit(EV_KEY, key, 1);
    keyboard.sync();
    const double took = until(h, "Recovery chord pressed.", 3);
    for (const std::uint16_t key :
         std::initializer_list<std::uint16_t>{KEY_F12, KEY_LEFTSHIFT, KEY_LEFTALT, KEY_LEFTCTRL})
      keyboard.emit(EV_KEY, key, 0);
    keyboard.sync();
    check(fresh && took >= 0 && took < 0.5, "idle-chord-wakes",
          "capture stopped %.1f ms after the chord", took * 1000);
  }

  // A second matching device ends the sleep at once.
  {
    const bool fresh = capture() && freshPass(h);
    Pedal second("VEC USB Footpedal", "test/pedal-idle", BUS_USB, pedalDescriptor());
    const double took = until(h, "Device or input permission changed. Inspect again.", 3);
    check(fresh && second.ready() && took >= 0 && took < 0.5, "idle-device-wakes",
          "capture stopped %.1f ms after a second pedal's hidraw node appeared", took * 1000);
  }

  // Without the heartbeat, capture stops as soon as the last beat is more than 5000 ms old.
  {
    const bool fresh = capture() && freshPass(h);
    const double beat = now();
    h.backend->ping();
    const double took = until(h, "Settings window heartbeat lost. Capture stopped.", 7, false);
    const double age = took < 0 ? -1 : now() - beat;
    check(fresh && age > 5.0 && age < 5.1, "idle-heartbeat-deadline",
          "capture stopped %.1f ms after the last heartbeat", age * 1000);
    h.pump();
  }
}

}  // namespace kerneltest
