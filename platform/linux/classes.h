#pragma once

// udev's classification of an input device, read the same way by the platform and by
// quillfen-access, which must agree on which devices the program reads.

#include <libudev.h>

#include <cstring>
#include <optional>

#include "platform/linux/role.h"

namespace linuxplatform {

// The classes udev gave the device of evdev node `event`, where a udev daemon runs (`classified`,
// as udevRuns says); none otherwise, and the capabilities decide.
inline std::optional<Classes> classesOf(udev_device* event, bool classified) {
  if (!classified)
    return std::nullopt;
  const auto is = [event](const char* property) {
    const char* value = udev_device_get_property_value(event, property);
    return value && std::strcmp(value, "1") == 0;
  };
  return Classes{is("ID_INPUT_KEYBOARD"), is("ID_INPUT_MOUSE"), is("ID_INPUT_TOUCHPAD")};
}

}  // namespace linuxplatform
