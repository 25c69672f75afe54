#pragma once

// What the program can open on Linux of the device nodes it needs: the pedal's hidraw and evdev
// nodes, the keyboards' and pointing devices' evdev nodes, and /dev/uinput. The Permissions
// button shows it, since nothing inside the program can grant that access.

#include <filesystem>
#include <string>
#include <vector>

struct Node {
  enum class Use { pedal, input, uinput };
  Use use = Use::input;
  std::string path;     // the device node, as the program opens it
  std::string name;     // what the kernel calls the device; empty for /dev/uinput
  bool opened = false;  // opened as the program needs it: read, or write for /dev/uinput
};

// Looks at the devices under `root` (the file system's root; a folder of its own in tests):
// sysfs for the pedal (vendor 05F3, product 00FF) and the keyboards and pointing devices, then
// opens each node and closes it again at once. Pedal first, then the other input devices by
// node, then /dev/uinput.
std::vector<Node> survey(const std::filesystem::path& root = "/");

// The survey in plain words for the Permissions window: a line per node and what to do.
std::string report(const std::vector<Node>& nodes);
