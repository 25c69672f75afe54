// Activation of actions, pause, and the mouse-guard event tap.

#include "backend/backend.h"
#include "core/clock.h"

namespace {

constexpr std::uint64_t bit(std::uint32_t type) {
  return std::uint64_t{1} << type;
}

// Button downs and ups of the left, right and other buttons.
constexpr std::uint64_t buttonEvents = bit(platform::leftMouseDown) | bit(platform::leftMouseUp) |
                                       bit(platform::rightMouseDown) | bit(platform::rightMouseUp) |
                                       bit(platform::otherMouseDown) | bit(platform::otherMouseUp);

}  // namespace

void Backend::activate(bool verified) {
  if (active || !captured || !verified || decoder.learned.size() != 3 || decoder.learning ||
      decoder.held != 0 || !platform::isProcessTrusted() || !platform::preflightPostEventAccess()) {
    publish(
        "Learn/release all three pedals, verify outputs and mouse, and grant Accessibility before "
        "activation.");
    return;
  }
  policy.scope = settings.guardScope;
  policy.clear();
  if (policy.scope != "off") {
    tap = platform::tapCreate(platform::sessionEventTap, platform::headInsertEventTap,
                              platform::tapOptionDefault, buttonEvents, &Backend::tapped, this);
    // A tap without a run-loop source would never see a click: the guard would be missing just
    // as if the tap had been refused.
    if (tap)
      tapSource = platform::tapCreateRunLoopSource(tap, 0);
    if (!tap || !tapSource) {
      stop("Mouse event tap refused. Guard not available; capture stopped.");
      return;
    }
    platform::runLoopAddSource(platform::runLoopGetCurrent(), tapSource);
    platform::tapEnable(tap, true);
  }
  active = true;
  publish("Actions active in the focused app. Guard: " + policy.scope + ". Keep Quillfen open.");
}

void Backend::pause() {
  active = false;
  clearTap();
  publish("Actions paused; original pedal reports remain seized. Stop restores input.");
}

void Backend::clearTap() {
  policy.clear();
  if (tap) {
    platform::tapEnable(tap, false);
    platform::tapInvalidate(tap);
  }
  if (tapSource)
    platform::runLoopRemoveSource(platform::runLoopGetCurrent(), tapSource);
  tap.reset();
  tapSource.reset();
}

platform::EventObject* Backend::tapped(void*, std::uint32_t type, platform::EventObject* event,
                                       void* userInfo) {
  if (userInfo == nullptr)
    return event;
  auto& self = *static_cast<Backend*>(userInfo);
  if (type == platform::tapDisabledByTimeout || type == platform::tapDisabledByUserInput) {
    // Running unguarded is not an option; the tap is not re-enabled.
    self.stop("Mouse tap disabled; capture stopped. Inspect again.");
    return event;
  }
  if (platform::getIntegerValueField(event, platform::fieldUserData) == eventTag)
    return event;
  const std::int64_t button = platform::getIntegerValueField(event, platform::fieldButtonNumber);
  const bool down = type == platform::leftMouseDown || type == platform::rightMouseDown ||
                    type == platform::otherMouseDown;
  return self.policy.reject(button, down, milliseconds()) ? nullptr : event;
}
