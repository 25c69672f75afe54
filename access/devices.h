#pragma once

// The nodes quillfen-access hands over, found by itself through udev: never named by the caller.

#include <string>
#include <vector>

#include "access/protocol.h"
#include "platform/linux/fd.h"

namespace helper {

// A node opened for the caller.
struct Found {
  std::string path;
  linuxplatform::Fd fd;
  bool evdev = false;  // an evdev node, which EVIOCREVOKE can take back
};

// Every node of `kind` present (at most protocol::maxNodes), each opened afresh as the program
// needs it, non-blocking and close-on-exec: the pedal's hidraw nodes for reading and its evdev
// nodes for reading and writing (to release what its grab held down); the keyboards' and pointing
// devices' evdev nodes for reading; /dev/uinput for writing.
std::vector<Found> find(protocol::Kind kind);

}  // namespace helper
