#include "platform/linux/role.h"

#include <linux/input-event-codes.h>
#include <unistd.h>

#include <iterator>

#include "platform/linux/keys.h"
#include "platform/linux/sysfs.h"

namespace linuxplatform {

Role roleOf(const std::vector<std::uint64_t>& keys, const std::optional<Classes>& classes) {
  Role role;
  for (unsigned code = BTN_LEFT; code <= BTN_TASK && !role.buttons; ++code)
    role.buttons = hasCapability(keys, code);
  for (int i = 0; i < static_cast<int>(std::size(askedKeys)); ++i)
    if (hasCapability(keys, askedKeys[i]))
      role.asks |= std::uint32_t{1} << i;
  role.keyboard = role.asks != 0;
  if (classes) {
    const bool pointing = classes->mouse || classes->touchpad;
    role.pointer = role.buttons && pointing;
    role.required = classes->keyboard || pointing;
  } else {
    role.pointer = role.buttons;
    role.required = role.keyboard || role.buttons;
  }
  return role;
}

bool udevRuns() {
  return access("/run/udev/control", F_OK) == 0;
}

}  // namespace linuxplatform
