#pragma once

// The objects behind the seam's opaque handles on Linux, shared by the files that implement it.

#include <libudev.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/descriptor.h"
#include "platform/linux/fd.h"
#include "platform/linux/loop.h"
#include "platform/linux/nodes.h"
#include "platform/linux/uinput.h"
#include "platform/platform.h"

namespace platform {

struct RunLoopObject {
  linuxplatform::Loop* loop;  // valid on the loop's own thread, while it runs
  linuxplatform::Loop::Waker waker;
};

// One HID device of the kernel, seen through its hidraw node.
struct DeviceObject : std::enable_shared_from_this<DeviceObject> {
  udev* context = nullptr;  // a reference of its own
  std::string hidSyspath;   // the HID device: /sys/.../0003:05F3:00FF.000A
  std::string devnode;      // /dev/hidrawN
  std::uint16_t bus = 0;
  std::uint64_t instance = 0;  // the .000A of the HID device's name
  std::string product;         // HID_NAME
  std::optional<linuxplatform::Reports> reports;
  bool present = true;  // false once the kernel removed it

  linuxplatform::Opened hidraw;
  std::vector<linuxplatform::Opened> grabs;  // the evdev nodes of the same HID device, grabbed
  std::vector<std::string> grabbed;          // their paths

  InputReportCallback callback = nullptr;
  void* callbackContext = nullptr;
  std::uint8_t* buffer = nullptr;
  std::int64_t length = 0;
  linuxplatform::Loop* loop = nullptr;
  std::uint64_t watch = 0;

  ~DeviceObject();
};

struct ManagerObject {
  udev* context = nullptr;
  udev_monitor* monitor = nullptr;
  std::int64_t vendor = -1;
  std::int64_t product = -1;
  std::map<std::string, Device> devices;  // by hidraw syspath
  linuxplatform::Loop* loop = nullptr;
  std::uint64_t watch = 0;

  ~ManagerObject();
};

// An event the program synthesizes, or a mouse-button event a tap sees.
struct EventObject {
  enum class Kind { key, scroll, mouse } kind = Kind::key;
  std::uint16_t code = 0;  // evdev key of a key event
  bool down = false;
  int units = 0;
  std::int32_t wheel[3] = {0, 0, 0};
  std::int64_t userData = 0;
  std::int64_t button = 0;
};

}  // namespace platform

namespace linuxplatform {

// Whether an evdev node is grabbed by a seized HID device of ours: the mouse guard leaves it be.
bool seized(const std::string& devnode);

}  // namespace linuxplatform
