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

// quillfen-access as root, the program as the user nobody with no rule and no ACL: a whole session
// through the helper, the program killed, its session made inactive, the processes and requests
// the helper refuses, and the helper stopped. `pedal` must be the one pedal present.
void accessHelper(Pedal& pedal, Virtual& mouse, Virtual& keyboard);

// The guest's parts in those checks, each run as nobody. The program captured through the helper
// (inheriting the pedal's uhid descriptor), says READY and then waits to be killed ("kill") or
// for its session to end ("session").
int throughHelper(int uhid, const std::string& mode);
// A process that asks the helper for the pedal's nodes itself and says what it answered:
// "pedal", "dumpable", "traced", "mapping" or "sender".
int ask(const std::string& variant);
// The other process of "sender": writes a request with the nonce on the inherited connection.
int sendFor(int fd, const std::string& nonce);

}  // namespace kerneltest
