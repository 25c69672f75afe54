#pragma once

// The plain state of a simulated world: permissions, held keys and buttons, the events posted,
// the clock, the failures asked for, and the counts of run-loop work. Both simulated worlds (this
// folder's, and the framework double's) keep it here and answer the controls of sim.h about it
// the same way (state.cpp). Its mutex is the one mutex of either world.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/sim/sim.h"

namespace sim {

struct State {
  std::mutex mutex;
  bool listen = true;
  bool accessibility = true;
  bool post = true;
  int requests = 0;
  std::string report;                // what accessReport says
  std::uint64_t answers = 0;         // how often a permission was set: the user answered
  std::condition_variable answered;  // told on each answer
  std::set<std::uint16_t> keys;
  std::uint64_t flags = 0;
  std::set<std::uint32_t> buttons;
  std::vector<Posted> posted;
  std::map<Op, int> failing;  // operation to the successes left before it fails
  std::atomic<double> seconds{1000.0};
  std::atomic<std::uint64_t> runs{0};
  std::atomic<std::int64_t> pending{0};  // handed to a run loop, not yet handled or dropped
  std::atomic<std::uint64_t> pools{0};   // autorelease pools ended
};

State& state();

// True when `op` is to fail now. Call with the mutex held.
bool failing(Op op);

// The initial state: every permission granted, nothing held, posted or failing, the clock at
// 1000 s. Call with the mutex held.
void resetState();

// What a tap's callback made of a click, told from the tap's run loop to the clicking thread, which
// waits for it at most five seconds: the system's limit on a tap holding an event.
class Verdict {
 public:
  void tell(Mouse mouse);
  std::optional<Mouse> await();

 private:
  std::mutex mutex_;
  std::condition_variable told_;
  std::optional<Mouse> mouse_;
};

}  // namespace sim
