#include "app/access.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
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

bool opens(const fs::path& path, int mode) {
  const int fd = ::open(path.c_str(), mode | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    return false;
  ::close(fd);
  return true;
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

std::vector<Node> survey(const fs::path& root) {
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
                     name ? std::string(*name) : std::string(), false});
  }
  for (const fs::path& entry : entries(root / "sys/class/input", "event")) {
    const fs::path device = entry / "device";
    const std::string name = readText(device / "name");
    const fs::path node = root / "dev/input" / entry.filename();
    if (isPedal(readText(device / "id/vendor"), readText(device / "id/product"))) {
      pedal.push_back({Node::Use::pedal, node.string(), name, false});
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
      inputs.push_back({Node::Use::input, node.string(), name, false});
  }
  std::vector<Node> all = pedal;
  all.insert(all.end(), inputs.begin(), inputs.end());
  all.push_back({Node::Use::uinput, (root / "dev/uinput").string(), "", false});
  for (Node& node : all)
    node.opened = opens(node.path, node.use == Node::Use::uinput ? O_WRONLY : O_RDONLY);
  return all;
}

std::string report(const std::vector<Node>& nodes) {
  std::ostringstream text;
  bool missing = false;
  bool pedal = false;
  for (const Node& node : nodes) {
    missing = missing || !node.opened;
    pedal = pedal || node.use == Node::Use::pedal;
  }
  text << (missing ? "Quillfen cannot open every device it needs."
                   : "Quillfen can open every device it needs.")
       << "\n\n";
  if (!pedal)
    text << "No pedal (05f3:00ff) is plugged in: plug it in and click Permissions again.\n\n";
  const char* headings[] = {"The pedal: read its presses and hold its own keys back",
                            "Keyboards and pointing devices: the recovery keys and the click guard",
                            "/dev/uinput: type the shortcuts"};
  for (Node::Use use : {Node::Use::pedal, Node::Use::input, Node::Use::uinput}) {
    bool first = true;
    for (const Node& node : nodes) {
      if (node.use != use)
        continue;
      if (first)
        text << headings[static_cast<int>(use)] << ":\n";
      first = false;
      text << "  " << (node.opened ? "can open     " : "cannot open  ") << node.path;
      if (!node.name.empty())
        text << "  (" << node.name << ")";
      text << "\n";
    }
    if (!first)
      text << "\n";
  }
  if (missing) {
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
