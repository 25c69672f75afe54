// Permissions, key and button state, synthesized events and the clock of the simulated platform.

#include "platform/sim/world.h"

namespace platform {

using sim::Op;
using sim::world;

bool preflightListenEventAccess() {
  std::lock_guard hold(world().mutex);
  return sim::state().listen;
}

bool preflightPostEventAccess() {
  std::lock_guard hold(world().mutex);
  return sim::state().post;
}

bool isProcessTrusted() {
  std::lock_guard hold(world().mutex);
  return sim::state().accessibility;
}

void requestListenEventAccess() {
  std::lock_guard hold(world().mutex);
  ++sim::state().requests;
}

void isProcessTrustedWithPrompt() {
  std::lock_guard hold(world().mutex);
  ++sim::state().requests;
}

std::string accessReport() {
  std::lock_guard hold(world().mutex);
  return sim::state().report;
}

bool keyState(int, std::uint16_t key) {
  std::lock_guard hold(world().mutex);
  return sim::state().keys.contains(key);
}

std::uint64_t flagsState(int) {
  std::lock_guard hold(world().mutex);
  return sim::state().flags;
}

bool buttonState(int, std::uint32_t button) {
  std::lock_guard hold(world().mutex);
  return sim::state().buttons.contains(button);
}

Event createKeyboardEvent(std::uint16_t key, bool down) {
  std::lock_guard hold(world().mutex);
  if (sim::failing(Op::keyboardEvent))
    return {};
  auto event = std::make_shared<EventObject>();
  event->type = down ? keyDown : keyUp;
  event->key = key;
  return event;
}

Event createScrollWheelEvent(int, std::uint32_t, std::int32_t wheel1, std::int32_t wheel2,
                             std::int32_t wheel3) {
  std::lock_guard hold(world().mutex);
  if (sim::failing(Op::scrollEvent))
    return {};
  auto event = std::make_shared<EventObject>();
  event->type = scrollWheel;
  event->wheel[0] = wheel1;
  event->wheel[1] = wheel2;
  event->wheel[2] = wheel3;
  return event;
}

void setIntegerValueField(EventObject* event, int field, std::int64_t value) {
  if (event != nullptr)
    event->fields[field] = value;
}

std::int64_t getIntegerValueField(EventObject* event, int field) {
  if (event == nullptr)
    return 0;
  auto found = event->fields.find(field);
  return found == event->fields.end() ? 0 : found->second;
}

void post(int location, const Event& event) {
  if (!event)
    return;
  sim::Posted posted;
  posted.type = event->type;
  posted.key = event->key;
  posted.wheel1 = event->wheel[0];
  posted.wheel2 = event->wheel[1];
  posted.wheel3 = event->wheel[2];
  posted.tag = getIntegerValueField(event.get(), fieldUserData);
  posted.location = location;
  std::lock_guard hold(world().mutex);
  sim::state().posted.push_back(posted);
}

double uptime() {
  return sim::state().seconds.load();
}

}  // namespace platform
