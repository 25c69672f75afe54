#pragma once

#include <linux/input.h>

#include <cstddef>
#include <optional>
#include <string>

#include "platform/linux/nodes.h"

namespace linuxplatform {

// A uinput device of ours; destroying the owner removes it from the system, and the kernel
// releases any key or button it still holds.
struct Virtual {
  Opened fd;
  std::string sysname;  // inputN
};

// Whether this process may make uinput devices.
bool uinputWritable();

// The device that posts the program's keys and scrolls: Space, Return, F13 to F20 and the wheel.
// It also declares relative motion and the three main buttons, which it never sends, so that
// desktops take it for a mouse too and accept its wheel events.
std::optional<Virtual> createPoster();

// A device with the capabilities, identity and name of the evdev device open on `source`, to
// which a guarded pointing device's events are forwarded.
std::optional<Virtual> createClone(int source);

// Writes events to a uinput device; false when the write failed.
bool emit(const Virtual& device, const input_event* events, std::size_t count);

void destroy(Virtual& device);

// Writes the events posted since the last call to the program's virtual device, in one write.
// Called when an input report has been handled and whenever the loop is about to run.
void flushPosted();

}  // namespace linuxplatform
