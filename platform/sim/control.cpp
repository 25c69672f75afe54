// The test-facing control of the simulated world.

#include "platform/sim/world.h"

namespace sim {

World& world() {
  static World instance;
  return instance;
}

bool failing(Op op) {
  auto found = world().failing.find(op);
  if (found == world().failing.end())
    return false;
  if (found->second > 0) {
    --found->second;
    return false;
  }
  return true;
}

void reset() {
  std::lock_guard hold(world().mutex);
  for (auto& [id, device] : world().devices)
    device->present = false;
  world().devices.clear();
  world().listen = true;
  world().accessibility = true;
  world().post = true;
  world().requests = 0;
  world().keys.clear();
  world().flags = 0;
  world().buttons.clear();
  world().posted.clear();
  world().taps.clear();
  world().failing.clear();
  world().seconds.store(1000.0);
  world().pending.store(0);
}

void grantListen(bool granted) {
  std::lock_guard hold(world().mutex);
  world().listen = granted;
}

void grantAccessibility(bool granted) {
  std::lock_guard hold(world().mutex);
  world().accessibility = granted;
}

void grantPost(bool granted) {
  std::lock_guard hold(world().mutex);
  world().post = granted;
}

int requests() {
  std::lock_guard hold(world().mutex);
  return world().requests;
}

void holdKey(std::uint16_t key, bool down) {
  std::lock_guard hold(world().mutex);
  if (down)
    world().keys.insert(key);
  else
    world().keys.erase(key);
}

void setFlags(std::uint64_t flags) {
  std::lock_guard hold(world().mutex);
  world().flags = flags;
}

void holdButton(std::uint32_t button, bool down) {
  std::lock_guard hold(world().mutex);
  if (down)
    world().buttons.insert(button);
  else
    world().buttons.erase(button);
}

std::vector<Posted> posted() {
  std::lock_guard hold(world().mutex);
  return world().posted;
}

std::size_t postedCount() {
  std::lock_guard hold(world().mutex);
  return world().posted.size();
}

void setTime(double milliseconds) {
  world().seconds.store(milliseconds / 1000.0);
}

void advance(double milliseconds) {
  double now = world().seconds.load();
  while (!world().seconds.compare_exchange_weak(now, now + milliseconds / 1000.0)) {
  }
}

void fail(Op op, int after) {
  std::lock_guard hold(world().mutex);
  world().failing[op] = after;
}

void heal(Op op) {
  std::lock_guard hold(world().mutex);
  world().failing.erase(op);
}

}  // namespace sim
