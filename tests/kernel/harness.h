#pragma once

// The real Backend driven from a test thread of the kernel test's guest: statuses delivered to
// that thread, the heartbeat, and the pedal learnt through real reports.

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "backend/backend.h"
#include "core/settings.h"
#include "tests/kernel/devices.h"

namespace kerneltest {

// Prints one line of the guest's report: `lead`, then the formatted text.
inline void vline(const std::string& lead, const char* format, va_list args) {
  std::printf("%s", lead.c_str());
  std::vprintf(format, args);
  std::printf("\n");
  std::fflush(stdout);
}

inline void info(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vline("INFO ", format, args);
  va_end(args);
}

// The checks that failed so far.
inline int failures = 0;

// Prints one PASS or FAIL line for the check `step`, with the formatted text.
inline void check(bool ok, const char* step, const char* format, ...) {
  va_list args;
  va_start(args, format);
  vline(std::string(ok ? "PASS " : "FAIL ") + step + ": ", format, args);
  va_end(args);
  if (!ok)
    ++failures;
}

inline const std::string started =
    "Isolated test started. Release pedals to establish neutral, then learn each pedal. Verify "
    "originals and ordinary mouse in another app.";

// The Backend with its statuses delivered to this thread, which also sends the heartbeat.
class Harness {
 public:
  Harness() : backend(std::make_shared<Backend>()), mailbox(std::make_shared<Mailbox>()) {
    // The worker may publish until it ends, so the mailbox is shared with it, not borrowed.
    backend->dispatch = [mailbox = mailbox](std::function<void()> closure) {
      std::lock_guard hold(mailbox->lock);
      mailbox->queue.push_back(std::move(closure));
    };
    backend->update = [this](const std::string& message, bool, bool,
                             const std::vector<std::string>&) { statuses.push_back(message); };
    backend->launch();
  }
  ~Harness() {
    // The worker holds the backend until it ends, and so does each status not yet delivered:
    // deliver them until this is the last hold, so the backend (and its thread) ends here.
    backend->close();
    for (const double end = now() + 5; now() < end && backend.use_count() > 1; sleepFor(0.005))
      pump();
    pump();
  }

  void send(std::function<void(Backend&)> command) {
    Backend* b = backend.get();
    backend->send([b, command] { command(*b); });
  }

  // Runs the delivered statuses and, unless told not to, pings.
  void pump(bool ping = true) {
    std::deque<std::function<void()>> taken;
    {
      std::lock_guard hold(mailbox->lock);
      taken.swap(mailbox->queue);
    }
    for (auto& closure : taken)
      closure();
    if (ping)
      backend->ping();
  }

  // Waits for a status equal to `text` among those published from now on; returns the statuses
  // seen meanwhile, joined, when it does not come.
  bool await(const std::string& text, double seconds, std::string* seen = nullptr) {
    const std::size_t from = statuses.size();
    for (const double end = now() + seconds; now() < end; sleepFor(0.002)) {
      pump();
      for (std::size_t i = from; i < statuses.size(); ++i)
        if (statuses[i] == text)
          return true;
    }
    if (seen)
      for (std::size_t i = from; i < statuses.size(); ++i)
        *seen += "[" + statuses[i] + "] ";
    return false;
  }

  // Sends a command and waits for its status.
  bool run(std::function<void(Backend&)> command, const std::string& text, double seconds = 5) {
    std::string seen;
    const std::size_t from = statuses.size();
    send(std::move(command));
    for (const double end = now() + seconds; now() < end; sleepFor(0.002)) {
      pump();
      for (std::size_t i = from; i < statuses.size(); ++i)
        if (statuses[i] == text)
          return true;
    }
    for (std::size_t i = from; i < statuses.size(); ++i)
      seen += "[" + statuses[i] + "] ";
    info("expected [%s], saw %s", text.c_str(), seen.c_str());
    return false;
  }

  // Inspects until the status is `text`. A device's arrival or departure reaches the worker's
  // udev monitor a moment after its nodes change, and an inspection in between still answers from
  // the set before it: no person clicks that fast after plugging a pedal in, a test does.
  bool inspect(const std::string& text, double seconds = 5) {
    std::string last;
    for (const double end = now() + seconds; now() < end; sleepFor(0.02)) {
      const std::size_t from = statuses.size();
      send([](Backend& b) { b.inspect(); });
      for (; statuses.size() == from && now() < end; sleepFor(0.002))
        pump();
      if (statuses.size() > from && (last = statuses.back()) == text)
        return true;
    }
    info("inspection expected [%s], last saw [%s]", text.c_str(), last.c_str());
    return false;
  }

  std::shared_ptr<Backend> backend;
  std::vector<std::string> statuses;

 private:
  struct Mailbox {
    std::mutex lock;
    std::deque<std::function<void()>> queue;
  };
  std::shared_ptr<Mailbox> mailbox;
};

// Space, a scroll up and Return on the three pedals, with the click guard on every button.
inline Settings guarded() {
  Settings settings;
  settings.mappings = {{"left", "space"}, {"middle", "scrollUp"}, {"right", "enter"}};
  settings.guardScope = "all";
  return settings;
}

inline const std::string activated =
    "Actions active in the focused app. Guard: all. Keep Quillfen open.";

// What a stream of evdev events holds: downs and ups of one key, moves, and the wheel's turns.
struct Counts {
  int down = 0, up = 0, moves = 0, wheel = 0, hiRes = 0;
};

inline Counts count(const std::vector<input_event>& events, std::uint16_t key) {
  Counts counts;
  for (const auto& e : events) {
    if (e.type == EV_KEY && e.code == key)
      (e.value ? counts.down : counts.up)++;
    if (e.type == EV_REL && e.code == REL_X)
      counts.moves++;
    if (e.type == EV_REL && e.code == REL_WHEEL)
      counts.wheel += e.value;
    if (e.type == EV_REL && e.code == REL_WHEEL_HI_RES)
      counts.hiRes += e.value;
  }
  return counts;
}

inline void click(Virtual& mouse) {
  mouse.emit(EV_KEY, BTN_LEFT, 1);
  mouse.sync();
  mouse.emit(EV_KEY, BTN_LEFT, 0);
  mouse.sync();
}

inline void move(Virtual& mouse) {
  mouse.emit(EV_REL, REL_X, 5);
  mouse.sync();
}

inline std::string deviceLine(const std::string& name, std::uint64_t instance) {
  return name + " \u00B7 05f3:00ff \u00B7 two-byte candidate protocol \u00B7 registry " +
         std::to_string(instance) + ". Physical compatibility unverified.";
}

inline std::string learningStatus(const std::vector<std::string>& learned) {
  std::string names;
  for (const auto& name : learned)
    names += (names.empty() ? "" : ", ") + name;
  return "Isolated / paused \u00B7 learned: " + names + " \u00B7 held: 0";
}

using Send = std::function<bool(std::uint8_t)>;

// Learns left = 1, middle = 2, right = 4 through real reports.
inline bool learnAll(Harness& h, const Send& send) {
  if (!send(0) || !h.await(learningStatus({}), 5))
    return false;
  std::vector<std::string> learned;
  for (const auto& [name, bit] :
       {std::pair<std::string, std::uint8_t>{"left", 1}, {"middle", 2}, {"right", 4}}) {
    if (!h.run([name](Backend& b) { b.learn(name); },
               "Press and release only the " + name + " pedal."))
      return false;
    learned.push_back(name);
    std::sort(learned.begin(), learned.end());
    const std::size_t from = h.statuses.size();
    send(bit);
    send(0);
    if (!h.await(learningStatus(learned), 5)) {
      info("learning %s: %zu statuses since", name.c_str(), h.statuses.size() - from);
      return false;
    }
  }
  return true;
}

// Presses through the uhid descriptor of a pedal that a child process inherited.
inline Send inherited(int uhid) {
  return [uhid](std::uint8_t bits) {
    const std::uint8_t report[2] = {bits, 0};
    return sendReport(uhid, report);
  };
}

// A child process's way to active actions with `settings`: whatever pedal the inspection finds is
// started and learned through `send`, then activated with the status `activation`.
inline bool activate(Harness& h, const Send& send, const Settings& settings,
                     const std::string& activation) {
  h.send([](Backend& b) { b.inspect(); });
  for (const double end = now() + 5; now() < end && h.statuses.empty(); sleepFor(0.01))
    h.pump();
  if (!h.run([](Backend& b) { b.start(true); }, started) || !learnAll(h, send))
    return false;
  h.send([settings](Backend& b) { b.configure(settings); });  // publishes nothing when accepted
  return h.run([](Backend& b) { b.activate(true); }, activation);
}

}  // namespace kerneltest
