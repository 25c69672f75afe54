#pragma once

// What the program can have on Linux of the device nodes it needs: the pedal's hidraw and evdev
// nodes, the keyboards' and pointing devices' evdev nodes, and /dev/uinput, and where they come
// from. The Permissions button shows it (platform::accessReport), since nothing inside the program
// can grant that access.

#include <filesystem>
#include <string>
#include <vector>

#include "access/protocol.h"
#include "platform/linux/nodes.h"

namespace linuxplatform {

struct Finding {
  enum class Use { pedal, input, uinput };
  // Opened as the program needs it (read, or write for /dev/uinput), or handed over by the
  // helper; refused; or no device there at all (no node, or a node with no driver behind it).
  enum class State { opened, denied, missing };
  Use use = Use::input;
  std::string path;  // the device node, as the program opens it
  std::string name;  // what the kernel calls the device; empty for /dev/uinput
  State state = State::missing;
};

// The kernel's uinput module, which makes /dev/uinput: loadable, built in, absent from the
// running kernel, or unknown (its module list cannot be read).
enum class Module { loadable, builtin, absent, unknown };

// What Permissions finds.
struct Findings {
  std::vector<Finding> nodes;
  Module uinput = Module::unknown;
  std::string release;  // the running kernel's release
  Route route = Route::direct;
  protocol::Status refusal = protocol::Status::granted;  // the helper's, as Nodes::refusal
  bool root = false;                                     // the program runs as root
};

// Looks at the devices under `root` (the file system's root; a folder of its own in tests):
// sysfs for the pedal (vendor 05F3, product 00FF) and the keyboards and pointing devices, then
// has each node through `nodes` and closes it again at once. Pedal first, then the other input
// devices by node, then /dev/uinput; and the running kernel's module list for uinput.
Findings survey(const std::filesystem::path& root, Nodes& nodes);

// The findings in plain words for the Permissions window: where the nodes come from, a line per
// node, and what to do.
std::string report(const Findings& found);

}  // namespace linuxplatform
