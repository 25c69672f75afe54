#include "app/access.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <sstream>

#include "platform/linux/sysfs.h"

namespace {

namespace fs = std::filesystem;

std::string readText(const fs::path& path) {
  std::ifstream input(path);
  std::ostringstream text;
  text << input.rdbuf();
  std::string result = text.str();
  while (!result.empty() && (result.back() == '\n' || result.back() == ' '))
    result.pop_back();
  return result;
}

Node::State opens(const fs::path& path, int mode) {
  const int fd = ::open(path.c_str(), mode | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0) {
    ::close(fd);
    return Node::State::opened;
  }
  // No node, or a node whose driver is not there (a module not loaded, or absent).
  if (errno == ENOENT || errno == ENODEV || errno == ENXIO)
    return Node::State::missing;
  return Node::State::denied;
}

// Whether a module list of the kernel (modules.dep, modules.builtin) names uinput's module file,
// compressed or not.
bool lists(const fs::path& file) {
  std::ifstream input(file);
  for (std::string line; std::getline(input, line);) {
    const std::string name = fs::path(line.substr(0, line.find(':'))).filename().string();
    for (const char* module : {"uinput.ko", "uinput.ko.xz", "uinput.ko.zst", "uinput.ko.gz"})
      if (name == module)
        return true;
  }
  return false;
}

bool isPedal(const std::string& vendor, const std::string& product) {
  return vendor == "05f3" && product == "00ff";
}

// The numeric suffix of "hidraw12" or "event3", so nodes sort as the kernel numbers them.
int number(const std::string& name) {
  const auto digits = name.find_first_of("0123456789");
  return digits == std::string::npos ? -1 : std::atoi(name.c_str() + digits);
}

std::vector<fs::path> entries(const fs::path& folder, const std::string& prefix) {
  std::vector<fs::path> found;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error)) {
    if (entry.path().filename().string().starts_with(prefix))
      found.push_back(entry.path());
  }
  std::sort(found.begin(), found.end(), [](const fs::path& a, const fs::path& b) {
    return number(a.filename().string()) < number(b.filename().string());
  });
  return found;
}

}  // namespace

Findings survey(const fs::path& root) {
  std::vector<Node> pedal;
  std::vector<Node> inputs;
  for (const fs::path& entry : entries(root / "sys/class/hidraw", "hidraw")) {
    const std::string uevent = readText(entry / "device/uevent");
    const auto id = linuxplatform::ueventValue(uevent, "HID_ID");
    const auto parsed = id ? linuxplatform::parseHidId(*id) : std::nullopt;
    if (!parsed || parsed->vendor != 0x05F3 || parsed->product != 0x00FF)
      continue;
    const auto name = linuxplatform::ueventValue(uevent, "HID_NAME");
    pedal.push_back({Node::Use::pedal, (root / "dev" / entry.filename()).string(),
                     name ? std::string(*name) : std::string()});
  }
  for (const fs::path& entry : entries(root / "sys/class/input", "event")) {
    const fs::path device = entry / "device";
    const std::string name = readText(device / "name");
    const fs::path node = root / "dev/input" / entry.filename();
    if (isPedal(readText(device / "id/vendor"), readText(device / "id/product"))) {
      pedal.push_back({Node::Use::pedal, node.string(), name});
      continue;
    }
    // Keyboards (a key the recovery chord uses) and pointing devices (a left button); the
    // program's own virtual devices are left out.
    if (readText(device / "phys").starts_with("quillfen/"))
      continue;
    const auto keys = linuxplatform::parseCapabilities(readText(device / "capabilities/key"));
    const bool keyboard = keys && linuxplatform::hasCapability(*keys, 88);    // F12
    const bool pointer = keys && linuxplatform::hasCapability(*keys, 0x110);  // left button
    if (keyboard || pointer)
      inputs.push_back({Node::Use::input, node.string(), name});
  }
  Findings found;
  found.nodes = pedal;
  found.nodes.insert(found.nodes.end(), inputs.begin(), inputs.end());
  found.nodes.push_back({Node::Use::uinput, (root / "dev/uinput").string(), ""});
  for (Node& node : found.nodes)
    node.state = opens(node.path, node.use == Node::Use::uinput ? O_WRONLY : O_RDONLY);

  found.release = readText(root / "proc/sys/kernel/osrelease");
  const fs::path modules = root / "lib/modules" / found.release;
  std::error_code error;
  if (found.release.empty() || !fs::is_regular_file(modules / "modules.dep", error))
    found.uinput = Module::unknown;
  else if (lists(modules / "modules.builtin"))
    found.uinput = Module::builtin;
  else
    found.uinput = lists(modules / "modules.dep") ? Module::loadable : Module::absent;
  return found;
}

std::string report(const Findings& found) {
  std::ostringstream text;
  bool denied = false;
  bool pedal = false;
  bool uinput = true;
  for (const Node& node : found.nodes) {
    denied = denied || node.state == Node::State::denied;
    pedal = pedal || node.use == Node::Use::pedal;
    if (node.use == Node::Use::uinput)
      uinput = node.state != Node::State::missing;
  }
  const bool all = std::all_of(found.nodes.begin(), found.nodes.end(),
                               [](const Node& node) { return node.state == Node::State::opened; });
  text << (all ? "Quillfen can open every device it needs."
               : "Quillfen cannot open every device it needs.")
       << "\n\n";
  if (!pedal)
    text << "No pedal (05f3:00ff) is plugged in: plug it in and click Permissions again.\n\n";
  const char* headings[] = {"The pedal: read its presses and hold its own keys back",
                            "Keyboards and pointing devices: the recovery keys and the click guard",
                            "/dev/uinput: type the shortcuts"};
  const char* states[] = {"can open     ", "cannot open  ", "missing      "};
  for (Node::Use use : {Node::Use::pedal, Node::Use::input, Node::Use::uinput}) {
    bool first = true;
    for (const Node& node : found.nodes) {
      if (node.use != use)
        continue;
      if (first)
        text << headings[static_cast<int>(use)] << ":\n";
      first = false;
      text << "  " << states[static_cast<int>(node.state)] << node.path;
      if (!node.name.empty())
        text << "  (" << node.name << ")";
      text << "\n";
    }
    if (!first)
      text << "\n";
  }
  // No udev rule makes a node appear that the kernel does not have: a missing /dev/uinput is the
  // kernel's uinput module, not loaded or not there.
  if (!uinput) {
    switch (found.uinput) {
      case Module::absent:
        text << "This kernel (" << found.release
             << ") has no uinput module, so there is no /dev/uinput and Quillfen cannot type. "
                "Start a kernel that has it, as Debian's standard kernels do.\n\n";
        break;
      case Module::builtin:
        text << "The kernel has uinput built in, yet /dev/uinput is missing: this system's /dev "
                "does not show the kernel's devices (as in some containers), and /dev/uinput "
                "must be made available to it.\n\n";
        break;
      case Module::loadable:
      case Module::unknown:
        text << "/dev/uinput is missing: the kernel's uinput module is not loaded"
             << (found.uinput == Module::unknown ? ", or the kernel has none" : "")
             << ". Load it now:\n\n"
                "  sudo modprobe uinput\n\n"
                "Quillfen's package loads it whenever the pedal is plugged in. To load it at "
                "every start as well:\n\n"
                "  echo uinput | sudo tee /etc/modules-load.d/uinput.conf\n\n";
        if (found.uinput == Module::unknown)
          text << "If modprobe finds no module uinput, this kernel was built without it: start "
                  "a kernel that has it, as Debian's standard kernels do.\n\n";
        break;
    }
  }
  if (denied) {
    text << "To give access to the person logged in at this computer, install the udev rule "
            "70-quillfen.rules (installing Quillfen does) and make udev apply it:\n\n"
            "  sudo install -m 644 packaging/70-quillfen.rules /etc/udev/rules.d/\n"
            "  sudo udevadm control --reload\n"
            "  sudo udevadm trigger\n\n"
            "Then unplug the pedal and plug it back in, or log out and in again. The guide's "
            "setup section explains the rule.";
  }
  std::string result = text.str();
  while (!result.empty() && result.back() == '\n')
    result.pop_back();
  return result;
}
