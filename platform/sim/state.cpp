// The controls of sim.h over the plain state both simulated worlds share.

#include "platform/sim/state.h"

#include <chrono>

namespace sim {

State& state() {
  static State instance;
  return instance;
}

bool failing(Op op) {
  auto found = state().failing.find(op);
  if (found == state().failing.end())
    return false;
  if (found->second > 0) {
    --found->second;
    return false;
  }
  return true;
}

void resetState() {
  auto& s = state();
  s.listen = true;
  s.accessibility = true;
  s.post = true;
  s.requests = 0;
  s.report.clear();
  s.keys.clear();
  s.flags = 0;
  s.buttons.clear();
  s.posted.clear();
  s.failing.clear();
  s.seconds.store(1000.0);
  s.pending.store(0);
}

namespace {

void grant(bool State::*permission, bool granted) {
  std::lock_guard hold(state().mutex);
  state().*permission = granted;
  ++state().answers;
  state().answered.notify_all();
}

}  // namespace

void grantListen(bool granted) {
  grant(&State::listen, granted);
}

void grantAccessibility(bool granted) {
  grant(&State::accessibility, granted);
}

void grantPost(bool granted) {
  grant(&State::post, granted);
}

void setAccessReport(const std::string& text) {
  std::lock_guard hold(state().mutex);
  state().report = text;
}

int requests() {
  std::lock_guard hold(state().mutex);
  return state().requests;
}

void holdKey(std::uint16_t key, bool down) {
  std::lock_guard hold(state().mutex);
  if (down)
    state().keys.insert(key);
  else
    state().keys.erase(key);
}

void setFlags(std::uint64_t flags) {
  std::lock_guard hold(state().mutex);
  state().flags = flags;
}

void holdButton(std::uint32_t button, bool down) {
  std::lock_guard hold(state().mutex);
  if (down)
    state().buttons.insert(button);
  else
    state().buttons.erase(button);
}

std::vector<Posted> posted() {
  std::lock_guard hold(state().mutex);
  return state().posted;
}

std::size_t postedCount() {
  std::lock_guard hold(state().mutex);
  return state().posted.size();
}

void setTime(double milliseconds) {
  state().seconds.store(milliseconds / 1000.0);
}

void advance(double milliseconds) {
  double now = state().seconds.load();
  while (!state().seconds.compare_exchange_weak(now, now + milliseconds / 1000.0)) {
  }
}

std::uint64_t runs() {
  return state().runs.load();
}

bool settled() {
  return state().pending.load() == 0;
}

std::uint64_t pools() {
  return state().pools.load();
}

void fail(Op op, int after) {
  std::lock_guard hold(state().mutex);
  state().failing[op] = after;
}

void heal(Op op) {
  std::lock_guard hold(state().mutex);
  state().failing.erase(op);
}

void Verdict::tell(Mouse mouse) {
  {
    std::lock_guard hold(mutex_);
    mouse_ = mouse;
  }
  told_.notify_all();
}

std::optional<Mouse> Verdict::await() {
  std::unique_lock hold(mutex_);
  told_.wait_for(hold, std::chrono::seconds(5), [this] { return mouse_.has_value(); });
  return mouse_;
}

}  // namespace sim
