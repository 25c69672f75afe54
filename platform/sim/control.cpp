// The test-facing control of the simulated world.

#include "platform/sim/world.h"

namespace sim {

World& world() {
  static World instance;
  return instance;
}

void reset() {
  std::lock_guard hold(world().mutex);
  for (auto& [id, device] : world().devices)
    device->present = false;
  world().devices.clear();
  world().taps.clear();
  resetState();
}

}  // namespace sim
