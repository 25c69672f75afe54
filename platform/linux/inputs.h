#pragma once

#include <libudev.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/linux/fd.h"

namespace linuxplatform {

// The phys text of every input device the program makes (its virtual keyboard and the clones of
// guarded pointing devices). Devices with it are ours: never state sources, never guarded.
inline constexpr const char* ourPhysPrefix = "quillfen/";

// One evdev node of the input subsystem.
struct InputNode {
  std::string sysname;  // eventN
  std::string devnode;  // /dev/input/eventN
  bool ours = false;
  bool keyboard = false;  // has a key the program asks about (F12, a modifier, Space, ...)
  bool pointer = false;   // a pointing device with a mouse button: the click guard grabs it
  // A keyboard or pointing device the user must grant read access to. Where udev runs, its
  // classification decides (ID_INPUT_KEYBOARD, ID_INPUT_MOUSE, ID_INPUT_TOUCHPAD), the same the
  // udev rule grants by; without udev, the capabilities do.
  bool required = false;
  Fd state;  // opened for EVIOCGKEY; never read, so no event of it is lost
};

// The input devices present, kept current by a udev monitor that is drained whenever the set is
// used, so a query costs no scan of the file system. Used on the backend's worker thread only.
class Inputs {
 public:
  static Inputs& instance();

  // Applies the device arrivals and departures the monitor has seen since the last call.
  void refresh();
  int monitorFd() const { return monitor_ ? udev_monitor_get_fd(monitor_) : -1; }
  const std::map<std::string, InputNode>& nodes() const { return nodes_; }

  // Whether any keyboard or pointer present (ours excluded) holds evdev key `code` down.
  bool down(std::uint16_t code);
  // The evdev keys among `codes` that are down on any keyboard or pointer, ours excluded.
  std::vector<bool> down(const std::vector<std::uint16_t>& codes);
  // Whether every required keyboard and pointing device present is readable by this process.
  bool readable();

  // Told about every pointing device that arrives or leaves (not ours), after `refresh`.
  using Listener = void (*)(void* context, const std::string& sysname, bool added);
  void listen(Listener listener, void* context) {
    listener_ = listener;
    listenerContext_ = context;
  }

  udev* context() const { return udev_; }

 private:
  Inputs();
  void scan();
  void add(udev_device* device);

  udev* udev_ = nullptr;
  udev_monitor* monitor_ = nullptr;
  std::map<std::string, InputNode> nodes_;
  Listener listener_ = nullptr;
  void* listenerContext_ = nullptr;
};

// Reads a whole small file (sysfs attribute, uevent); empty when it cannot be read.
std::string readText(const std::string& path);

// "udev" when a udev daemon runs (its events come after its rules gave the nodes their
// permissions), otherwise "kernel".
const char* monitorSource();

}  // namespace linuxplatform
