#include "platform/linux/keys.h"

#include <linux/input-event-codes.h>

namespace linuxplatform {

const FlagKey flagKeys[8] = {
    {KEY_LEFTSHIFT, shiftFlag},   {KEY_RIGHTSHIFT, shiftFlag},  {KEY_LEFTCTRL, controlFlag},
    {KEY_RIGHTCTRL, controlFlag}, {KEY_LEFTALT, optionFlag},    {KEY_RIGHTALT, optionFlag},
    {KEY_LEFTMETA, commandFlag},  {KEY_RIGHTMETA, commandFlag},
};

const std::uint16_t askedKeys[19] = {
    KEY_F12,     KEY_LEFTSHIFT, KEY_RIGHTSHIFT, KEY_LEFTCTRL,  KEY_RIGHTCTRL,
    KEY_LEFTALT, KEY_RIGHTALT,  KEY_LEFTMETA,   KEY_RIGHTMETA, KEY_SPACE,
    KEY_ENTER,   KEY_F13,       KEY_F14,        KEY_F15,       KEY_F16,
    KEY_F17,     KEY_F18,       KEY_F19,        KEY_F20,
};

int askedIndex(std::uint16_t code) {
  for (int i = 0; i < 19; ++i)
    if (askedKeys[i] == code)
      return i;
  return -1;
}

std::optional<std::uint16_t> evdevKey(std::uint16_t keyCode) {
  switch (keyCode) {
    case 49:
      return KEY_SPACE;
    case 36:
      return KEY_ENTER;
    case 111:
      return KEY_F12;
    case 105:
      return KEY_F13;
    case 107:
      return KEY_F14;
    case 113:
      return KEY_F15;
    case 106:
      return KEY_F16;
    case 64:
      return KEY_F17;
    case 79:
      return KEY_F18;
    case 80:
      return KEY_F19;
    case 90:
      return KEY_F20;
    default:
      return std::nullopt;
  }
}

std::optional<std::uint16_t> evdevButton(std::uint32_t button) {
  switch (button) {
    case 0:
      return BTN_LEFT;
    case 1:
      return BTN_RIGHT;
    case 2:
      return BTN_MIDDLE;
    case 3:
      return BTN_SIDE;
    case 4:
      return BTN_EXTRA;
    default:
      return std::nullopt;
  }
}

std::optional<std::uint32_t> buttonNumber(std::uint16_t code) {
  switch (code) {
    case BTN_LEFT:
      return 0;
    case BTN_RIGHT:
      return 1;
    case BTN_MIDDLE:
      return 2;
    case BTN_SIDE:
      return 3;
    case BTN_EXTRA:
      return 4;
    case BTN_FORWARD:
      return 5;
    case BTN_BACK:
      return 6;
    case BTN_TASK:
      return 7;
    default:
      return std::nullopt;
  }
}

std::uint32_t mouseEventType(std::uint32_t button, bool down) {
  if (button == 0)
    return down ? leftMouseDown : leftMouseUp;
  if (button == 1)
    return down ? rightMouseDown : rightMouseUp;
  return down ? otherMouseDown : otherMouseUp;
}

}  // namespace linuxplatform
