#include "platform/linux/inputs.h"

#include <fcntl.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <utility>

#include "platform/linux/keys.h"
#include "platform/linux/sysfs.h"

namespace linuxplatform {

namespace {

constexpr std::size_t longBits = 8 * sizeof(unsigned long);
using KeyBits = std::array<unsigned long, KEY_MAX / longBits + 1>;

bool bitSet(const KeyBits& bits, unsigned code) {
  return (bits[code / longBits] >> (code % longBits) & 1) != 0;
}

bool isKeyboard(const std::vector<std::uint64_t>& keys) {
  for (const FlagKey& key : flagKeys)
    if (hasCapability(keys, key.code))
      return true;
  for (const int code : {49, 36, 111, 105, 107, 113, 106, 64, 79, 80, 90})
    if (hasCapability(keys, *evdevKey(static_cast<std::uint16_t>(code))))
      return true;
  return false;
}

bool isPointer(const std::vector<std::uint64_t>& keys) {
  for (unsigned code = BTN_LEFT; code <= BTN_TASK; ++code)
    if (hasCapability(keys, code))
      return true;
  return false;
}

}  // namespace

std::string readText(const std::string& path) {
  Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd)
    return {};
  std::string text;
  char chunk[4096];
  for (;;) {
    const ssize_t n = read(fd.get(), chunk, sizeof chunk);
    if (n <= 0 || text.size() > (1u << 20))
      break;
    text.append(chunk, static_cast<std::size_t>(n));
  }
  return text;
}

const char* monitorSource() {
  return access("/run/udev/control", F_OK) == 0 ? "udev" : "kernel";
}

Inputs& Inputs::instance() {
  static Inputs inputs;
  return inputs;
}

Inputs::Inputs() : udev_(udev_new()) {
  if (!udev_)
    return;
  // The monitor is listening before the enumeration, so no arrival falls between the two.
  monitor_ = udev_monitor_new_from_netlink(udev_, monitorSource());
  if (monitor_) {
    udev_monitor_filter_add_match_subsystem_devtype(monitor_, "input", nullptr);
    if (udev_monitor_enable_receiving(monitor_) < 0) {
      udev_monitor_unref(monitor_);
      monitor_ = nullptr;
    } else {
      const int fd = udev_monitor_get_fd(monitor_);
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
      fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
  }
  scan();
}

void Inputs::scan() {
  // Devices that left while events were lost are told to the listener as departures.
  std::map<std::string, InputNode> before = std::exchange(nodes_, {});
  udev_enumerate* enumerate = udev_enumerate_new(udev_);
  udev_enumerate_add_match_subsystem(enumerate, "input");
  udev_enumerate_add_match_sysname(enumerate, "event*");
  udev_enumerate_scan_devices(enumerate);
  udev_list_entry* entry;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate)) {
    udev_device* device = udev_device_new_from_syspath(udev_, udev_list_entry_get_name(entry));
    if (device) {
      add(device);
      udev_device_unref(device);
    }
  }
  udev_enumerate_unref(enumerate);
  for (const auto& [sysname, node] : before)
    if (!nodes_.count(sysname) && node.pointer && !node.ours && listener_)
      listener_(listenerContext_, sysname, false);
}

void Inputs::add(udev_device* device) {
  const char* sysname = udev_device_get_sysname(device);
  const char* devnode = udev_device_get_devnode(device);
  if (!sysname || !devnode || std::strncmp(sysname, "event", 5) != 0)
    return;
  udev_device* parent = udev_device_get_parent_with_subsystem_devtype(device, "input", nullptr);
  if (!parent)
    return;
  InputNode node;
  node.sysname = sysname;
  node.devnode = devnode;
  const std::string syspath = udev_device_get_syspath(parent);
  const std::string phys = readText(syspath + "/phys");
  node.ours = std::string_view(phys).starts_with(ourPhysPrefix);
  const auto keys = parseCapabilities(readText(syspath + "/capabilities/key"));
  const bool buttons = keys && isPointer(*keys);
  node.keyboard = keys && isKeyboard(*keys);
  if (std::strcmp(monitorSource(), "udev") == 0) {
    const auto is = [device](const char* property) {
      const char* value = udev_device_get_property_value(device, property);
      return value && std::strcmp(value, "1") == 0;
    };
    const bool pointing = is("ID_INPUT_MOUSE") || is("ID_INPUT_TOUCHPAD");
    node.pointer = buttons && pointing;
    node.required = is("ID_INPUT_KEYBOARD") || pointing;
  } else {
    node.pointer = buttons;
    node.required = node.keyboard || buttons;
  }
  if (!node.ours && (node.keyboard || buttons || node.required))
    node.state.reset(open(devnode, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  const bool pointer = node.pointer && !node.ours;
  nodes_.insert_or_assign(node.sysname, std::move(node));
  if (pointer && listener_)
    listener_(listenerContext_, sysname, true);
}

void Inputs::refresh() {
  if (!monitor_)
    return;
  errno = 0;
  while (udev_device* device = udev_monitor_receive_device(monitor_)) {
    const char* action = udev_device_get_action(device);
    const char* sysname = udev_device_get_sysname(device);
    // A change (udevadm trigger, a new rule) may change the device's class and our access.
    if (action && sysname &&
        (std::strcmp(action, "add") == 0 || std::strcmp(action, "change") == 0)) {
      add(device);
    } else if (action && sysname && std::strcmp(action, "remove") == 0) {
      const auto found = nodes_.find(sysname);
      if (found != nodes_.end()) {
        const bool pointer = found->second.pointer && !found->second.ours;
        nodes_.erase(found);
        if (pointer && listener_)
          listener_(listenerContext_, sysname, false);
      }
    }
    udev_device_unref(device);
  }
  // The socket overflowed while nobody read it: what it dropped is learnt by a new scan.
  if (errno == ENOBUFS)
    scan();
}

bool Inputs::down(std::uint16_t code) {
  return down(std::vector<std::uint16_t>{code}).front();
}

std::vector<bool> Inputs::down(const std::vector<std::uint16_t>& codes) {
  refresh();
  std::vector<bool> result(codes.size(), false);
  for (const auto& [name, node] : nodes_) {
    if (node.ours || !node.state)
      continue;
    KeyBits bits{};
    if (ioctl(node.state.get(), EVIOCGKEY(sizeof bits), bits.data()) < 0)
      continue;
    for (std::size_t i = 0; i < codes.size(); ++i)
      if (bitSet(bits, codes[i]))
        result[i] = true;
  }
  return result;
}

bool Inputs::readable() {
  refresh();
  if (!udev_)
    return false;
  for (auto& [name, node] : nodes_) {
    if (node.ours || !node.required)
      continue;
    if (access(node.devnode.c_str(), R_OK) != 0)
      return false;
    // Access granted since the device arrived (the user logged in, the rule was installed).
    if (!node.state)
      node.state.reset(open(node.devnode.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!node.state)
      return false;
  }
  return true;
}

}  // namespace linuxplatform
