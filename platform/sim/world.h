#pragma once

// The simulated world behind the seam, shared by the files of the simulated platform. One mutex
// guards every field of `World` and of the objects below; it is never held while a callback of
// the program runs.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/sim.h"
#include "platform/sim/state.h"

namespace platform {

struct RunLoopObject {
  std::mutex mutex;
  std::condition_variable wake;
  // Work handed over by other threads; each item returns true when it handled a live source.
  std::deque<std::function<bool()>> pending;
  bool stopped = false;  // a stop not yet seen by a run
  int sources = 0;  // managers, devices and tap sources on this loop (guarded by the world's mutex)
};

struct ManagerObject {
  bool matching = false;
  std::int64_t vendor = 0;
  std::int64_t product = 0;
  std::weak_ptr<RunLoopObject> loop;
  bool closed = false;
};

struct DeviceObject {
  sim::Properties properties;
  bool present = true;
  bool open = false;
  InputReportCallback callback = nullptr;
  void* context = nullptr;
  std::uint8_t* buffer = nullptr;
  std::int64_t length = 0;
  std::weak_ptr<RunLoopObject> loop;
};

struct TapObject {
  std::uint64_t mask = 0;
  TapCallback callback = nullptr;
  void* userInfo = nullptr;
  bool enabled = true;
  bool valid = true;
  std::weak_ptr<SourceObject> source;
};

struct SourceObject {
  std::weak_ptr<TapObject> tap;
  std::weak_ptr<RunLoopObject> loop;
};

struct EventObject {
  std::uint32_t type = 0;
  std::uint16_t key = 0;
  std::int32_t wheel[3] = {0, 0, 0};
  std::map<int, std::int64_t> fields;
};

}  // namespace platform

namespace sim {

struct World {
  std::mutex& mutex = state().mutex;  // the world's one mutex
  std::map<std::uint64_t, std::shared_ptr<platform::DeviceObject>> devices;
  std::uint64_t nextID = 0x100000A00;
  std::vector<std::weak_ptr<platform::TapObject>> taps;
};

World& world();

// Queues `work` on a run loop and wakes it.
void hand(const std::shared_ptr<platform::RunLoopObject>& loop, std::function<bool()> work);

// The tap that would see an event of `type` now, or none. Call with the world's mutex held.
std::shared_ptr<platform::TapObject> liveTap(std::uint32_t type);

}  // namespace sim
