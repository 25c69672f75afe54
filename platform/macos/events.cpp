// Permissions (Input Monitoring, event posting, Accessibility), key, modifier and button state,
// synthesized events and the uptime clock.

#include <ApplicationServices/ApplicationServices.h>
#include <time.h>

#include "platform/macos/objects.h"

namespace platform {

namespace {

// An event the program created: released with its last handle.
Event owned(CGEventRef event) {
  if (event == nullptr)
    return {};
  return Event(new EventObject{event}, [](EventObject* object) {
    CFRelease(object->event);
    delete object;
  });
}

}  // namespace

// ---- permissions

// Input Monitoring as Quartz sees it, cheap enough for every pass. What the HID services think
// is asked where capture starts (deviceOpen).
bool preflightListenEventAccess() {
  return CGPreflightListenEventAccess();
}

bool preflightPostEventAccess() {
  return CGPreflightPostEventAccess();
}

bool isProcessTrusted() {
  return AXIsProcessTrusted();
}

// Shows the system's Input Monitoring alert and returns at once; IOHIDRequestAccess would ask for
// the same service and wait for the user's answer, freezing the window meanwhile.
void requestListenEventAccess() {
  CGRequestListenEventAccess();
}

void isProcessTrustedWithPrompt() {
  const void* keys[] = {kAXTrustedCheckOptionPrompt};
  const void* values[] = {kCFBooleanTrue};
  const macos::Owned<CFDictionaryRef> options(CFDictionaryCreate(kCFAllocatorDefault, keys, values,
                                                                 1, &kCFTypeDictionaryKeyCallBacks,
                                                                 &kCFTypeDictionaryValueCallBacks));
  if (options.get() != nullptr)
    AXIsProcessTrustedWithOptions(options.get());
}

// The system's own alerts and System Settings say what the program may have.
std::string accessReport() {
  return {};
}

// ---- key, modifier and button state

bool keyState(int stateID, std::uint16_t key) {
  return CGEventSourceKeyState(static_cast<CGEventSourceStateID>(stateID), key);
}

std::uint64_t flagsState(int stateID) {
  return CGEventSourceFlagsState(static_cast<CGEventSourceStateID>(stateID));
}

bool buttonState(int stateID, std::uint32_t button) {
  return CGEventSourceButtonState(static_cast<CGEventSourceStateID>(stateID),
                                  static_cast<CGMouseButton>(button));
}

// ---- synthesized events

Event createKeyboardEvent(std::uint16_t key, bool down) {
  return owned(CGEventCreateKeyboardEvent(nullptr, key, down));
}

Event createScrollWheelEvent(int units, std::uint32_t wheelCount, std::int32_t wheel1,
                             std::int32_t wheel2, std::int32_t wheel3) {
  return owned(CGEventCreateScrollWheelEvent2(nullptr, static_cast<CGScrollEventUnit>(units),
                                              wheelCount, wheel1, wheel2, wheel3));
}

void setIntegerValueField(EventObject* event, int field, std::int64_t value) {
  if (event != nullptr)
    CGEventSetIntegerValueField(event->event, static_cast<CGEventField>(field), value);
}

std::int64_t getIntegerValueField(EventObject* event, int field) {
  if (event == nullptr)
    return 0;
  return CGEventGetIntegerValueField(event->event, static_cast<CGEventField>(field));
}

void post(int location, const Event& event) {
  if (event)
    CGEventPost(static_cast<CGEventTapLocation>(location), event->event);
}

// ---- clock

// The time the system has been awake since it started, as the process information's system
// uptime counts it: the uptime clock stands still while the system sleeps.
double uptime() {
  return static_cast<double>(clock_gettime_nsec_np(CLOCK_UPTIME_RAW)) / 1e9;
}

}  // namespace platform
