#pragma once

// Checks of the kernel test's guest kept in files of their own.

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "tests/kernel/devices.h"
#include "tests/kernel/harness.h"

namespace kerneltest {

// Writes one input report as the pedal would send it.
using Raw = std::function<bool(std::span<const std::uint8_t>)>;

// A report the decoder refuses stops the isolated test; a start right after the next inspection
// must find the pedal released. `line` is the pedal's inspection line, `node` its evdev node.
void restartAfterRefusedReport(Harness& h, const std::string& line, const Raw& raw,
                               const std::string& node, const char* step);

// The worker while the pedal of `line` is captured and idle: it sleeps, and a command, the recovery
// chord on `keyboard`, a device change and the heartbeat's deadline end its sleep at once.
void idleWorker(Harness& h, const std::string& line, Virtual& keyboard);

// The pedal as a USB HID gadget on the dummy host controller, through usbhid: enumerated, its
// usages, seized, learnt, hidden from other readers, restarted after a refused report, unplugged
// and plugged in again. Says SKIPPED, and why, where the modules cannot be had. No other pedal
// may be present.
void usbPedal(Harness& h);

}  // namespace kerneltest
