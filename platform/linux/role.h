#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace linuxplatform {

// The phys text of every input device the program makes (its virtual keyboard and the clones of
// guarded pointing devices). Devices with it are ours: never state sources, never guarded, never
// handed over by quillfen-access.
inline constexpr const char* ourPhysPrefix = "quillfen/";

// Where /dev/uinput may be, in the order the program and quillfen-access try them.
inline constexpr const char* uinputPaths[] = {"/dev/uinput", "/dev/input/uinput"};

// udev's classification of an input device (ID_INPUT_KEYBOARD, _MOUSE, _TOUCHPAD).
struct Classes {
  bool keyboard = false;
  bool mouse = false;
  bool touchpad = false;
};

// What the program makes of an evdev device. The platform and quillfen-access decide it alike, so
// that the helper hands over every node the program reads.
struct Role {
  std::uint32_t asks = 0;  // bit i set when it has askedKeys[i]
  bool keyboard = false;   // has a key the program asks about (F12, a modifier, Space, ...)
  bool buttons = false;    // has a mouse button
  bool pointer = false;    // a pointing device with a mouse button: the click guard grabs it
  // A keyboard or pointing device the user must grant read access to.
  bool required = false;
  // Whether the program opens it: for its keys' state, for the guard, or as required.
  bool read() const { return keyboard || buttons || required; }
};

// The role of a device with these key capabilities (as parseCapabilities gives them). Where udev
// classifies devices (`classes` given), its classification decides which are required and which
// are pointing devices, as the udev rules that give access by it do; without udev, the
// capabilities do.
Role roleOf(const std::vector<std::uint64_t>& keys, const std::optional<Classes>& classes);

// Whether a udev daemon runs: its events come after its rules gave the nodes their permissions,
// and its classification of input devices is there to read.
bool udevRuns();

}  // namespace linuxplatform
