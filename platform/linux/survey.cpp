#include "platform/linux/survey.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <iterator>

#include "platform/linux/inputs.h"
#include "platform/linux/role.h"
#include "platform/linux/sysfs.h"
#include "platform/platform.h"

namespace linuxplatform {

namespace {

namespace fs = std::filesystem;

// A small file's text without its trailing newline and blanks.
std::string text(const fs::path& path) {
  std::string result = readText(path.string());
  while (!result.empty() && (result.back() == '\n' || result.back() == ' '))
    result.pop_back();
  return result;
}

Finding::State opens(Nodes& nodes, protocol::Kind kind, const std::string& path, int mode) {
  if (const Opened opened = nodes.open(kind, path, mode | O_NONBLOCK | O_CLOEXEC))
    return Finding::State::opened;
  // No node, or a node whose driver is not there (a module not loaded, or absent).
  if (errno == ENOENT || errno == ENODEV || errno == ENXIO)
    return Finding::State::missing;
  return Finding::State::denied;
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

Findings survey(const fs::path& root, Nodes& nodes) {
  std::vector<Finding> pedal;
  std::vector<Finding> inputs;
  for (const fs::path& entry : entries(root / "sys/class/hidraw", "hidraw")) {
    const std::string uevent = text(entry / "device/uevent");
    const auto id = ueventValue(uevent, "HID_ID");
    const auto parsed = id ? parseHidId(*id) : std::nullopt;
    if (!parsed || !isPedal(*parsed))
      continue;
    const auto name = ueventValue(uevent, "HID_NAME");
    pedal.push_back({Finding::Use::pedal, (root / "dev" / entry.filename()).string(),
                     name ? std::string(*name) : std::string()});
  }
  for (const fs::path& entry : entries(root / "sys/class/input", "event")) {
    const fs::path device = entry / "device";
    const std::string name = text(device / "name");
    const fs::path node = root / "dev/input" / entry.filename();
    if (text(device / "id/vendor") == "05f3" && text(device / "id/product") == "00ff") {
      pedal.push_back({Finding::Use::pedal, node.string(), name});
      continue;
    }
    // The keyboards and pointing devices the program reads, by their capabilities; its own
    // virtual devices are left out.
    if (text(device / "phys").starts_with(ourPhysPrefix))
      continue;
    const auto keys = parseCapabilities(text(device / "capabilities/key"));
    if (keys && roleOf(*keys, std::nullopt).read())
      inputs.push_back({Finding::Use::input, node.string(), name});
  }
  Findings found;
  found.nodes = pedal;
  found.nodes.insert(found.nodes.end(), inputs.begin(), inputs.end());
  found.nodes.push_back({Finding::Use::uinput, (root / "dev/uinput").string(), ""});
  found.route = nodes.route();
  const protocol::Kind kinds[] = {protocol::Kind::pedal, protocol::Kind::input,
                                  protocol::Kind::uinput};
  for (Finding& node : found.nodes)
    node.state = opens(nodes, kinds[static_cast<int>(node.use)], node.path,
                       node.use == Finding::Use::uinput ? O_WRONLY : O_RDONLY);
  // What the helper said last: a refusal may have come with the first request.
  found.refusal = nodes.refusal();
  found.root = geteuid() == 0;

  found.release = text(root / "proc/sys/kernel/osrelease");
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

namespace {

// Where the nodes come from, in a sentence or two.
std::string where(const Findings& found) {
  using protocol::Status;
  if (found.route == Route::helper) {
    switch (found.refusal) {
      case Status::granted:
        return "quillfen-access, this computer's device helper, hands these devices to the "
               "installed Quillfen alone, while your session is the active one.";
      case Status::session:
        return "quillfen-access, this computer's device helper, hands these devices over only "
               "while your session is the active one at this computer, never to a remote one. "
               "Switch to it at the computer and click Permissions again.";
      default:
        break;
    }
    // Why it refused, by the helper's status.
    static const char* const reasons[] = {
        "it could not be examined",
        "it is not the installed program",
        "a debugger or another program traces it",
        "other programs of yours could attach to it",
        "it runs code from a file that you or other users can change",
        "its environment tells it to load other code (LD_PRELOAD, QT_PLUGIN_PATH and the like)",
        "its session is not the active one",
        "another process spoke for it",
        "it holds too many devices",
        "it could not be examined",
    };
    static_assert(std::size(reasons) == protocol::lastStatus + 1);
    const char* why = reasons[static_cast<int>(found.refusal)];
    return std::string("quillfen-access, this computer's device helper, refused this Quillfen: ") +
           why + ". Start Quillfen from your desktop's menu, without such settings.";
  }
  if (found.root)
    return "Quillfen runs as root and opens the devices itself.";
  if (found.refusal == protocol::Status::program)
    return "quillfen-access, this computer's device helper, hands devices only to the installed "
           "Quillfen, and this is another copy: it opens the devices itself.";
  if (found.refusal == protocol::Status::failed)
    return "quillfen-access, this computer's device helper, does not answer, so Quillfen opens "
           "the devices itself. To start the helper again:\n\n"
           "  sudo systemctl restart quillfen-access.socket";
  return "Quillfen opens the devices itself: quillfen-access, the device helper that comes with "
         "Quillfen's package, is not installed here.";
}

}  // namespace

std::string report(const Findings& found) {
  std::ostringstream text;
  bool denied = false;
  bool pedal = false;
  bool uinput = true;
  for (const Finding& node : found.nodes) {
    denied = denied || node.state == Finding::State::denied;
    pedal = pedal || node.use == Finding::Use::pedal;
    if (node.use == Finding::Use::uinput)
      uinput = node.state != Finding::State::missing;
  }
  const bool all = std::all_of(found.nodes.begin(), found.nodes.end(), [](const Finding& node) {
    return node.state == Finding::State::opened;
  });
  text << (all ? "Quillfen can open every device it needs."
               : "Quillfen cannot open every device it needs.")
       << "\n\n";
  text << where(found) << "\n\n";
  if (!pedal)
    text << "No pedal (05f3:00ff) is plugged in: plug it in and click Permissions again.\n\n";
  const char* headings[] = {"The pedal: read its presses and hold its own keys back",
                            "Keyboards and pointing devices: the recovery keys and the click guard",
                            "/dev/uinput: type the shortcuts"};
  const char* states[] = {"can open     ", "cannot open  ", "missing      "};
  for (Finding::Use use : {Finding::Use::pedal, Finding::Use::input, Finding::Use::uinput}) {
    bool first = true;
    for (const Finding& node : found.nodes) {
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
  // Nodes the program opens itself and may not: the package's helper is the way; a build of
  // one's own can also run as root, or with the development rule.
  if (denied && found.route == Route::direct && !found.root) {
    text << "Install Quillfen's package: its device helper, quillfen-access, hands these devices "
            "to the installed Quillfen alone, and only while your session is the active one. "
            "A copy of Quillfen you built yourself can run as root, or open the devices with the "
            "development rule, which gives them to every program you run (see "
            "packaging/README.md):\n\n"
            "  sudo install -m 644 packaging/71-quillfen-uaccess.rules /etc/udev/rules.d/\n"
            "  sudo udevadm control --reload\n"
            "  sudo udevadm trigger\n\n"
            "Then unplug the pedal and plug it back in, or log out and in again.";
  }
  std::string result = text.str();
  while (!result.empty() && result.back() == '\n')
    result.pop_back();
  return result;
}

}  // namespace linuxplatform

std::string platform::accessReport() {
  // A connection of its own, which ends, and gives back what it was handed, with the survey.
  linuxplatform::Nodes nodes(geteuid() == 0 ? std::string() : std::string(protocol::socketPath));
  return linuxplatform::report(linuxplatform::survey("/", nodes));
}
