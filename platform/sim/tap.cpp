// The mouse event tap of the simulated platform.

#include "platform/sim/world.h"

namespace platform {

using sim::Op;
using sim::world;

Tap tapCreate(int, int, int, std::uint64_t mask, TapCallback callback, void* userInfo) {
  std::lock_guard hold(world().mutex);
  if (sim::failing(Op::tapCreate))
    return {};
  auto tap = std::make_shared<TapObject>();
  tap->mask = mask;
  tap->callback = callback;
  tap->userInfo = userInfo;
  world().taps.push_back(tap);
  return tap;
}

Source tapCreateRunLoopSource(const Tap& tap, std::int64_t) {
  if (!tap)
    return {};
  std::lock_guard hold(world().mutex);
  if (sim::failing(Op::tapSource) || !tap->valid || !tap->source.expired())
    return {};
  auto source = std::make_shared<SourceObject>();
  source->tap = tap;
  tap->source = source;
  return source;
}

void tapEnable(const Tap& tap, bool enable) {
  if (!tap)
    return;
  std::lock_guard hold(world().mutex);
  tap->enabled = enable;
}

void tapInvalidate(const Tap& tap) {
  if (!tap)
    return;
  std::lock_guard hold(world().mutex);
  tap->valid = false;
  tap->enabled = false;
}

}  // namespace platform

namespace sim {

namespace {

// The run loop of a tap that sees events now, or none.
std::shared_ptr<platform::RunLoopObject> loopOf(const platform::TapObject& tap) {
  if (!tap.valid || !tap.enabled)
    return {};
  auto source = tap.source.lock();
  return source ? source->loop.lock() : nullptr;
}

}  // namespace

std::shared_ptr<platform::TapObject> liveTap(std::uint32_t type) {
  auto& taps = world().taps;
  std::erase_if(taps, [](const auto& tap) { return tap.expired(); });
  for (const auto& weak : taps) {
    auto tap = weak.lock();
    if (tap && loopOf(*tap) && type < 64 && (tap->mask >> type & 1) != 0)
      return tap;
  }
  return {};
}

bool tapLive() {
  std::lock_guard hold(world().mutex);
  for (const auto& weak : world().taps) {
    auto tap = weak.lock();
    if (tap && loopOf(*tap))
      return true;
  }
  return false;
}

Mouse click(std::uint32_t type, std::int64_t button, std::int64_t tag) {
  auto verdict = std::make_shared<Verdict>();
  auto event = std::make_shared<platform::EventObject>();
  event->type = type;
  event->fields[platform::fieldButtonNumber] = button;
  event->fields[platform::fieldUserData] = tag;

  std::shared_ptr<platform::TapObject> tap;
  std::shared_ptr<platform::RunLoopObject> loop;
  {
    std::lock_guard hold(world().mutex);
    tap = liveTap(type);
    if (!tap)
      return Mouse::unseen;
    loop = loopOf(*tap);
  }
  hand(loop, [tap, loop, event, type, verdict] {
    platform::TapCallback callback;
    void* userInfo;
    {
      std::lock_guard hold(world().mutex);
      if (loopOf(*tap) != loop)
        callback = nullptr;
      else
        callback = tap->callback;
      userInfo = tap->userInfo;
    }
    Mouse mouse = Mouse::unseen;
    if (callback != nullptr)
      mouse = callback(nullptr, type, event.get(), userInfo) == nullptr ? Mouse::dropped
                                                                        : Mouse::passed;
    verdict->tell(mouse);
    return callback != nullptr;
  });
  return verdict->await().value_or(Mouse::unseen);
}

bool disableTap(std::uint32_t why) {
  std::shared_ptr<platform::TapObject> tap;
  std::shared_ptr<platform::RunLoopObject> loop;
  {
    std::lock_guard hold(world().mutex);
    for (const auto& weak : world().taps) {
      tap = weak.lock();
      loop = tap ? loopOf(*tap) : nullptr;
      if (loop)
        break;
    }
    if (!loop)
      return false;
    tap->enabled = false;
  }
  auto event = std::make_shared<platform::EventObject>();
  event->type = why;
  hand(loop, [tap, event, why] {
    platform::TapCallback callback;
    void* userInfo;
    {
      std::lock_guard hold(world().mutex);
      callback = tap->valid ? tap->callback : nullptr;
      userInfo = tap->userInfo;
    }
    if (callback != nullptr)
      callback(nullptr, why, event.get(), userInfo);
    return callback != nullptr;
  });
  return true;
}

}  // namespace sim
