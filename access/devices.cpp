#include "access/devices.h"

#include <fcntl.h>
#include <libudev.h>
#include <sys/stat.h>

#include <cstring>
#include <optional>
#include <string_view>

#include "platform/linux/classes.h"
#include "platform/linux/sysfs.h"

namespace helper {

namespace {

using linuxplatform::Fd;

constexpr int common = O_NONBLOCK | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW;

// Opens `device`'s node, which must still be the character device udev names.
void add(std::vector<Found>& found, udev_device* device, int mode, bool evdev) {
  const char* devnode = udev_device_get_devnode(device);
  if (!devnode || found.size() >= protocol::maxNodes || std::strlen(devnode) > protocol::maxPath)
    return;
  Fd fd(open(devnode, mode | common));
  struct stat info {};
  if (!fd || fstat(fd.get(), &info) != 0 || !S_ISCHR(info.st_mode) ||
      info.st_rdev != udev_device_get_devnum(device))
    return;
  found.push_back({devnode, std::move(fd), evdev});
}

// Runs `each` on every device of `subsystem` (with a sysname matching `sysname`, and below
// `parent`, when given).
template <typename Each>
void enumerate(udev* context, const char* subsystem, const char* sysname, udev_device* parent,
               Each each) {
  udev_enumerate* list = udev_enumerate_new(context);
  if (!list)
    return;
  udev_enumerate_add_match_subsystem(list, subsystem);
  if (sysname)
    udev_enumerate_add_match_sysname(list, sysname);
  if (parent)
    udev_enumerate_add_match_parent(list, parent);
  udev_enumerate_scan_devices(list);
  udev_list_entry* entry;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(list)) {
    if (udev_device* device =
            udev_device_new_from_syspath(context, udev_list_entry_get_name(entry))) {
      each(device);
      udev_device_unref(device);
    }
  }
  udev_enumerate_unref(list);
}

bool isPedal(udev_device* hid) {
  const char* id = udev_device_get_property_value(hid, "HID_ID");
  const auto parsed = id ? linuxplatform::parseHidId(id) : std::nullopt;
  return parsed && linuxplatform::isPedal(*parsed);
}

void pedal(udev* context, std::vector<Found>& found) {
  enumerate(context, "hidraw", nullptr, nullptr, [&](udev_device* hidraw) {
    udev_device* hid = udev_device_get_parent_with_subsystem_devtype(hidraw, "hid", nullptr);
    if (!hid || !isPedal(hid))
      return;
    add(found, hidraw, O_RDONLY, false);
    // The evdev nodes the kernel made for the same HID device.
    enumerate(context, "input", "event*", hid,
              [&](udev_device* event) { add(found, event, O_RDWR, true); });
  });
}

// The keyboards and pointing devices, as the program reads them.
void inputs(udev* context, std::vector<Found>& found) {
  const bool classified = linuxplatform::udevRuns();
  enumerate(context, "input", "event*", nullptr, [&](udev_device* event) {
    udev_device* device = udev_device_get_parent_with_subsystem_devtype(event, "input", nullptr);
    if (!device)
      return;
    const char* phys = udev_device_get_sysattr_value(device, "phys");
    if (phys && std::string_view(phys).starts_with(linuxplatform::ourPhysPrefix))
      return;
    const char* keys = udev_device_get_sysattr_value(device, "capabilities/key");
    const auto words = keys ? linuxplatform::parseCapabilities(keys) : std::nullopt;
    if (linuxplatform::roleOf(words.value_or(std::vector<std::uint64_t>()),
                              linuxplatform::classesOf(event, classified))
            .read())
      add(found, event, O_RDONLY, true);
  });
}

void uinput(std::vector<Found>& found) {
  for (const char* path : linuxplatform::uinputPaths) {
    Fd fd(open(path, O_WRONLY | common));
    struct stat info {};
    if (fd && fstat(fd.get(), &info) == 0 && S_ISCHR(info.st_mode)) {
      found.push_back({path, std::move(fd), false});
      return;
    }
  }
}

}  // namespace

std::vector<Found> find(protocol::Kind kind) {
  std::vector<Found> found;
  if (kind == protocol::Kind::uinput) {
    uinput(found);
    return found;
  }
  udev* context = udev_new();
  if (!context)
    return found;
  if (kind == protocol::Kind::pedal)
    pedal(context, found);
  else
    inputs(context, found);
  udev_unref(context);
  return found;
}

}  // namespace helper
