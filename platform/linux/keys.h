#pragma once

#include <cstdint>
#include <optional>

namespace linuxplatform {

// Key codes, modifier flags, button numbers and mouse event types reach the platform in the
// program's own vocabulary (the Quartz one); these functions translate them to and from evdev.

// The evdev key code for a virtual key code the program uses: Space, Return, F12 and F13 to F20.
std::optional<std::uint16_t> evdevKey(std::uint16_t keyCode);

// The evdev button code for a mouse button number: 0 left, 1 right, 2 middle, 3 and 4 the side
// buttons (back and forward).
std::optional<std::uint16_t> evdevButton(std::uint32_t button);

// The mouse button number of an evdev button code of the mouse range (BTN_LEFT to BTN_TASK).
std::optional<std::uint32_t> buttonNumber(std::uint16_t code);

// Modifier flag bits and the evdev keys that hold them, either side counting.
inline constexpr std::uint64_t shiftFlag = 0x20000;
inline constexpr std::uint64_t controlFlag = 0x40000;
inline constexpr std::uint64_t optionFlag = 0x80000;
inline constexpr std::uint64_t commandFlag = 0x100000;

struct FlagKey {
  std::uint16_t code;
  std::uint64_t flag;
};
extern const FlagKey flagKeys[8];

// The evdev keys whose state the program asks about: F12 of the recovery chord, the modifiers and
// the ten keys it posts. A device with any of them is a keyboard to it.
extern const std::uint16_t askedKeys[19];
// The position of `code` in `askedKeys`, or -1 when the program never asks about it.
int askedIndex(std::uint16_t code);

// Mouse event types: left down 1 and up 2, right down 3 and up 4, other down 25 and up 26.
inline constexpr std::uint32_t leftMouseDown = 1;
inline constexpr std::uint32_t leftMouseUp = 2;
inline constexpr std::uint32_t rightMouseDown = 3;
inline constexpr std::uint32_t rightMouseUp = 4;
inline constexpr std::uint32_t otherMouseDown = 25;
inline constexpr std::uint32_t otherMouseUp = 26;

// The mouse event type of a button number going down or up.
std::uint32_t mouseEventType(std::uint32_t button, bool down);

}  // namespace linuxplatform
