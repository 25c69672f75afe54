// The mouse event tap: a Quartz event tap, its mach port's run-loop source, enabling and
// invalidation.

#include "platform/macos/objects.h"

namespace platform {

namespace {

CGEventRef tapped(CGEventTapProxy proxy, CGEventType type, CGEventRef event, void* userInfo) {
  const auto* tap = static_cast<const TapObject*>(userInfo);
  if (tap == nullptr || tap->callback == nullptr)
    return event;
  EventObject wrapped{event};
  const EventObject* answer =
      tap->callback(proxy, static_cast<std::uint32_t>(type), &wrapped, tap->userInfo);
  return answer != nullptr ? answer->event : nullptr;
}

}  // namespace

TapObject::~TapObject() {
  if (port.get() != nullptr && !invalidated)
    CFMachPortInvalidate(port.get());
}

Tap tapCreate(int location, int placement, int options, std::uint64_t mask, TapCallback callback,
              void* userInfo) {
  auto tap = std::make_shared<TapObject>(callback, userInfo);
  CFMachPortRef port = CGEventTapCreate(
      static_cast<CGEventTapLocation>(location), static_cast<CGEventTapPlacement>(placement),
      static_cast<CGEventTapOptions>(options), mask, &tapped, tap.get());
  if (port == nullptr)
    return {};
  tap->port.adopt(port);
  return tap;
}

Source tapCreateRunLoopSource(const Tap& tap, std::int64_t order) {
  if (!tap)
    return {};
  CFRunLoopSourceRef source = CFMachPortCreateRunLoopSource(kCFAllocatorDefault, tap->port.get(),
                                                            static_cast<CFIndex>(order));
  if (source == nullptr)
    return {};
  return std::make_shared<SourceObject>(source);
}

void tapEnable(const Tap& tap, bool enable) {
  if (tap && !tap->invalidated)
    CGEventTapEnable(tap->port.get(), enable);
}

void tapInvalidate(const Tap& tap) {
  if (!tap || tap->invalidated)
    return;
  CFMachPortInvalidate(tap->port.get());
  tap->invalidated = true;
}

}  // namespace platform
