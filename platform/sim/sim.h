#pragma once

// Control of the simulated platform, for tests. The simulation is one process-wide world: HID
// devices, permissions, held keys and buttons, a clock, the events posted so far and the installed
// mouse taps. Every function here may be called from any thread; reports and mouse events are
// handed to the run loop of the thread the device or tap is scheduled on, and handled there.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace sim {

// Restores the initial world: no devices, every permission granted, nothing held, nothing
// posted, no failures, the clock at 1000 s. Call it between tests, with no worker running.
void reset();

// ---- devices

struct Properties {
  std::int64_t vendor = 0x05F3;
  std::int64_t product = 0x00FF;
  platform::Property transport = std::string("USB");
  platform::Property maxInputReportSize = std::int64_t{2};
  platform::Property name = std::string("VEC USB Footpedal");  // "Product"
  std::uint64_t registryID = 0;                                // 0: the next free ID
};

// Plugs in a device; returns its registry entry ID.
std::uint64_t plug(const Properties& properties = {});
void unplug(std::uint64_t registryID);
// True while the device is open (seized or not), also after it was unplugged.
bool opened(std::uint64_t registryID);
// True while the device is open and its input-report callback is registered on a run loop.
bool listening(std::uint64_t registryID);

// Hands an input report to the device's run loop. False when nobody listens to the device.
bool deliver(std::uint64_t registryID, std::vector<std::uint8_t> bytes,
             platform::Return result = platform::success, std::uint32_t reportID = 0);

// ---- permissions

void grantListen(bool granted);         // Input Monitoring
void grantAccessibility(bool granted);  // Accessibility trust
void grantPost(bool granted);           // event posting
int requests();                         // how often a permission was requested
// What platform::accessReport says: empty at first, as where the system asks the user itself.
void setAccessReport(const std::string& text);

// ---- key, flag and button state

void holdKey(std::uint16_t key, bool down);
void setFlags(std::uint64_t flags);
void holdButton(std::uint32_t button, bool down);

// ---- the mouse event tap

// How a mouse event sent through the taps fared.
enum class Mouse { unseen, passed, dropped };

// Sends one mouse-button event through the enabled tap whose source is on a run loop, and waits
// (at most a few seconds) until the tap's thread has decided it. `unseen` when no such tap exists.
Mouse click(std::uint32_t type, std::int64_t button, std::int64_t tag = 0);
// Disables the live tap as the system does (`platform::tapDisabledByTimeout` or
// `platform::tapDisabledByUserInput`) and tells its callback. False when there is no live tap.
bool disableTap(std::uint32_t why);
// True while a tap is enabled and its source is on a run loop.
bool tapLive();

// ---- posted events

struct Posted {
  std::uint32_t type = 0;  // platform::keyDown, keyUp or scrollWheel
  std::uint16_t key = 0;
  std::int32_t wheel1 = 0;
  std::int32_t wheel2 = 0;
  std::int32_t wheel3 = 0;
  std::int64_t tag = 0;  // the user-data field
  int location = 0;
  bool operator==(const Posted&) const = default;
};
std::vector<Posted> posted();
std::size_t postedCount();

// ---- clock and run loops

void setTime(double milliseconds);
void advance(double milliseconds);
// How many times any thread has run its run loop; a worker pass runs it once.
std::uint64_t runs();
// True when every report and mouse event handed to a run loop has been handled.
bool settled();
// How many autorelease pools have ended, on any thread.
std::uint64_t pools();

// ---- failures on demand

enum class Op {
  managerCreate,
  copyDevices,
  registryEntryID,
  deviceOpen,  // refused with platform::exclusiveAccess
  tapCreate,
  tapSource,
  keyboardEvent,
  scrollEvent
};
// The operation succeeds `after` more times, then fails until `heal`.
void fail(Op op, int after = 0);
void heal(Op op);

}  // namespace sim
