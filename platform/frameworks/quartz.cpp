// Quartz event services and Accessibility in the framework double (CGEvent.h, CGEventSource.h,
// CGEventTypes.h, AXUIElement.h): the permission preflights and requests, key, flag and button
// state, events with their fields, posting, and the mouse event tap, whose callback runs on the
// run loop its port's source is on. A tap that does not answer in time is disabled by the system,
// which lets the event pass and tells the callback with kCGEventTapDisabledByTimeout; the system's
// limit is not documented, the double's is five seconds.

#include "platform/frameworks/world.h"

namespace frameworks {

namespace {

Event* makeEvent(CGEventType type) {
  auto* event = make<Event>();
  event->type = type;
  return event;
}

// The port of a live tap for any of the event types in `types`: valid, enabled, its source on a
// run loop. World mutex held.
Port* liveTap(CGEventMask types) {
  for (Object* object : live(Kind::port)) {
    auto* port = static_cast<Port*>(object);
    if (port->valid && port->enabled && port->source != nullptr && port->source->loop != nullptr &&
        (port->mask & types) != 0)
      return port;
  }
  return nullptr;
}
constexpr CGEventMask anyType = ~CGEventMask{0};

// Calls the tap's callback with an event of `type`, as the system does on the tap's run loop;
// returns whether the callback dropped it. The port is held for the length of the call, so the
// callback may invalidate and release it.
bool callout(Port& port, CGEventType type, std::int64_t button, std::int64_t tag) {
  CGEventTapCallBack callback;
  void* userInfo;
  {
    std::lock_guard hold(world().mutex);
    callback = port.callback;
    userInfo = port.userInfo;
  }
  retain(&port);
  Event* event = makeEvent(type);
  event->fields[kCGMouseEventButtonNumber] = button;
  event->fields[kCGEventSourceUserData] = tag;
  const CGEventRef answer = callback(nullptr, type, reference<CGEventRef>(event), userInfo);
  if (answer != nullptr && answer != reference<CGEventRef>(event))
    release(&use<Event>(answer, Kind::event, "an event tap's answer"));
  release(event);
  release(&port);
  return answer == nullptr;
}

// Disables the tap and tells its callback why, on its run loop. World mutex held.
void disable(Port& port, CGEventType why) {
  port.enabled = false;
  hand(*port.source->loop, port.source, [&port, why] {
    bool valid;
    {
      std::lock_guard hold(world().mutex);
      valid = port.valid && !port.dead;
    }
    if (valid)
      callout(port, why, 0, 0);
  });
}

}  // namespace

}  // namespace frameworks

using namespace frameworks;

// ---- permissions: the Quartz preflights answer from the process's grants; requests show the
// system's alert and return at once (CGRequestListenEventAccess does not document waiting;
// AXIsProcessTrustedWithOptions: "Prompting occurs asynchronously and does not affect the return
// value").

bool CGPreflightListenEventAccess(void) {
  std::lock_guard hold(world().mutex);
  return sim::state().listen;
}

bool CGRequestListenEventAccess(void) {
  std::lock_guard hold(world().mutex);
  ++sim::state().requests;
  return sim::state().listen;
}

bool CGPreflightPostEventAccess(void) {
  std::lock_guard hold(world().mutex);
  return sim::state().post;
}

Boolean AXIsProcessTrusted(void) {
  std::lock_guard hold(world().mutex);
  return sim::state().accessibility;
}

Boolean AXIsProcessTrustedWithOptions(CFDictionaryRef options) {
  bool prompt = false;
  if (options != nullptr) {
    for (const auto& [key, value] :
         use<Dictionary>(options, Kind::dictionary, "AXIsProcessTrustedWithOptions").entries)
      prompt = prompt || (key == static_cast<const Object*>(
                                     static_cast<const void*>(kAXTrustedCheckOptionPrompt)) &&
                          value == static_cast<const void*>(kCFBooleanTrue));
  }
  std::lock_guard hold(world().mutex);
  if (prompt && !sim::state().accessibility)
    ++sim::state().requests;
  return sim::state().accessibility;
}

// ---- key, flag and button state; every state table reads the same world

bool CGEventSourceKeyState(CGEventSourceStateID, CGKeyCode key) {
  std::lock_guard hold(world().mutex);
  return sim::state().keys.contains(key);
}

CGEventFlags CGEventSourceFlagsState(CGEventSourceStateID) {
  std::lock_guard hold(world().mutex);
  return sim::state().flags;
}

bool CGEventSourceButtonState(CGEventSourceStateID, CGMouseButton button) {
  std::lock_guard hold(world().mutex);
  return sim::state().buttons.contains(button);
}

// ---- events

CGEventRef CGEventCreateKeyboardEvent(CGEventSourceRef, CGKeyCode virtualKey, bool keyDown) {
  {
    std::lock_guard hold(world().mutex);
    if (failing(sim::Op::keyboardEvent))
      return nullptr;
  }
  Event* event = makeEvent(keyDown ? kCGEventKeyDown : kCGEventKeyUp);
  event->key = virtualKey;
  return reference<CGEventRef>(event);
}

CGEventRef CGEventCreateScrollWheelEvent2(CGEventSourceRef, CGScrollEventUnit units,
                                          uint32_t wheelCount, int32_t wheel1, int32_t wheel2,
                                          int32_t wheel3) {
  if (units != kCGScrollEventUnitLine || wheelCount < 1 || wheelCount > 3)
    fault("CGEventCreateScrollWheelEvent2: only line units and one to three wheels are modelled");
  {
    std::lock_guard hold(world().mutex);
    if (failing(sim::Op::scrollEvent))
      return nullptr;
  }
  Event* event = makeEvent(kCGEventScrollWheel);
  event->wheel[0] = wheel1;
  event->wheel[1] = wheelCount > 1 ? wheel2 : 0;
  event->wheel[2] = wheelCount > 2 ? wheel3 : 0;
  return reference<CGEventRef>(event);
}

int64_t CGEventGetIntegerValueField(CGEventRef ref, CGEventField field) {
  if (ref == nullptr)
    return 0;
  auto& event = use<Event>(ref, Kind::event, "CGEventGetIntegerValueField");
  std::lock_guard hold(world().mutex);
  auto found = event.fields.find(field);
  return found == event.fields.end() ? 0 : found->second;
}

void CGEventSetIntegerValueField(CGEventRef ref, CGEventField field, int64_t value) {
  if (ref == nullptr)
    return;
  auto& event = use<Event>(ref, Kind::event, "CGEventSetIntegerValueField");
  std::lock_guard hold(world().mutex);
  event.fields[field] = value;
}

void CGEventPost(CGEventTapLocation tap, CGEventRef ref) {
  if (ref == nullptr)
    return;
  auto& event = use<Event>(ref, Kind::event, "CGEventPost");
  std::lock_guard hold(world().mutex);
  sim::Posted posted;
  posted.type = event.type;
  posted.key = event.key;
  posted.wheel1 = event.wheel[0];
  posted.wheel2 = event.wheel[1];
  posted.wheel3 = event.wheel[2];
  auto tag = event.fields.find(kCGEventSourceUserData);
  posted.tag = tag == event.fields.end() ? 0 : tag->second;
  posted.location = static_cast<int>(tap);
  sim::state().posted.push_back(posted);
}

// ---- the event tap

CFMachPortRef CGEventTapCreate(CGEventTapLocation, CGEventTapPlacement, CGEventTapOptions,
                               CGEventMask eventsOfInterest, CGEventTapCallBack callback,
                               void* userInfo) {
  {
    std::lock_guard hold(world().mutex);
    if (failing(sim::Op::tapCreate))
      return nullptr;
  }
  auto* port = make<Port>();
  port->mask = eventsOfInterest;
  port->callback = callback;
  port->userInfo = userInfo;
  return reference<CFMachPortRef>(port);
}

void CGEventTapEnable(CFMachPortRef tap, bool enable) {
  auto& port = use<Port>(tap, Kind::port, "CGEventTapEnable");
  std::lock_guard hold(world().mutex);
  if (port.valid)
    port.enabled = enable;
}

// ---- controls of the tap

namespace sim {

Mouse click(std::uint32_t type, std::int64_t button, std::int64_t tag) {
  if (type >= 64)
    return Mouse::unseen;
  const CGEventMask types = CGEventMask{1} << type;
  auto verdict = std::make_shared<sim::Verdict>();
  {
    std::lock_guard hold(world().mutex);
    Port* port = liveTap(types);
    if (port == nullptr)
      return Mouse::unseen;
    hand(*port->source->loop, port->source, [port, type, button, tag, verdict] {
      const bool dropped = callout(*port, static_cast<CGEventType>(type), button, tag);
      verdict->tell(dropped ? Mouse::dropped : Mouse::passed);
    });
  }
  if (const auto mouse = verdict->await())
    return *mouse;
  // The tap held the event too long: the system lets it pass and disables the tap.
  std::lock_guard world_(world().mutex);
  if (Port* port = liveTap(types))
    disable(*port, kCGEventTapDisabledByTimeout);
  return Mouse::passed;
}

bool disableTap(std::uint32_t why) {
  std::lock_guard hold(world().mutex);
  Port* port = liveTap(anyType);
  if (port != nullptr)
    disable(*port, static_cast<CGEventType>(why));
  return port != nullptr;
}

bool tapLive() {
  std::lock_guard hold(world().mutex);
  return liveTap(anyType) != nullptr;
}

}  // namespace sim
