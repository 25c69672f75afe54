// The pedal on a real USB stack: a USB HID gadget (configfs, libcomposite, usb_f_hid) bound to
// the dummy host controller, whose host side is the same kernel's usbhid. Its report descriptor
// is the pedal's: Button usages 1 to 3, scan codes 0x90001 to 0x90003, which a desktop's hwdb
// maps to KEY_F14 to KEY_F16 (done here as udev would).

#include <dirent.h>
#include <fcntl.h>
#include <linux/input.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "tests/kernel/checks.h"
#include "tests/kernel/devices.h"
#include "tests/support/files.h"
#include "tests/support/pedal.h"

namespace kerneltest {

namespace {

const std::string gadgets = "/sys/kernel/config/usb_gadget";
const std::string root = gadgets + "/quillfen";

std::vector<std::string> entries(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (const dirent* e = readdir(d))
      if (e->d_name[0] != '.')
        names.emplace_back(e->d_name);
    closedir(d);
  }
  return names;
}

// Writes a configfs attribute as one write, as the kernel wants it.
bool store(const std::string& path, const std::string& bytes) {
  const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0)
    return false;
  const bool written = write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  return close(fd) == 0 && written;
}

std::string line(const std::string& text) {
  return text.substr(0, text.find('\n'));
}

// A value of a uevent file, or empty.
std::string ueventValue(const std::string& uevent, const std::string& key) {
  const std::size_t at = uevent.find(key + "=");
  if (at == std::string::npos || (at > 0 && uevent[at - 1] != '\n'))
    return {};
  return line(uevent.substr(at + key.size() + 1));
}

// The gadget pedal, made in configfs; `why` says what is missing when it cannot be.
class Gadget {
 public:
  Gadget() {
    const std::string missing = contents("/run/usb-missing");
    const auto udcs = entries("/sys/class/udc");
    if (!missing.empty())
      why = line(missing);
    else if (access(gadgets.c_str(), F_OK) != 0)
      why = "no " + gadgets + " (configfs or libcomposite missing)";
    else if (udcs.empty())
      why = "no USB device controller in /sys/class/udc (dummy_hcd missing)";
    if (!why.empty())
      return;
    udc = udcs.front();
    const std::string strings = root + "/strings/0x409";
    const std::string config = root + "/configs/c.1";
    const std::string function = root + "/functions/hid.usb0";
    const std::string descriptor(pedalDescriptorBytes.begin(), pedalDescriptorBytes.end());
    const bool made =
        mkdir(root.c_str(), 0755) == 0 && store(root + "/idVendor", "0x05f3") &&
        store(root + "/idProduct", "0x00ff") && store(root + "/bcdUSB", "0x0200") &&
        mkdir(strings.c_str(), 0755) == 0 && store(strings + "/manufacturer", "VEC") &&
        store(strings + "/product", "VEC USB Footpedal") &&
        store(strings + "/serialnumber", "quillfen-test") && mkdir(config.c_str(), 0755) == 0 &&
        store(config + "/MaxPower", "100") && mkdir(function.c_str(), 0755) == 0 &&
        store(function + "/protocol", "0") && store(function + "/subclass", "0") &&
        store(function + "/report_length", "2") && store(function + "/report_desc", descriptor) &&
        symlink(function.c_str(), (config + "/hid.usb0").c_str()) == 0;
    if (!made)
      why = std::string("the gadget could not be made in configfs: ") + std::strerror(errno);
  }

  ~Gadget() {
    unbind();
    if (output >= 0)
      close(output);
    unlink((root + "/configs/c.1/hid.usb0").c_str());
    for (const char* dir : {"/configs/c.1/strings/0x409", "/configs/c.1", "/functions/hid.usb0",
                            "/strings/0x409", ""})
      rmdir((root + dir).c_str());
  }

  // Connects the gadget to the host and waits until usbhid made its hidraw and evdev nodes.
  bool bind() {
    if (!store(root + "/UDC", udc))
      return false;
    hidraw.clear();
    eventNode.clear();
    for (const double end = now() + 10; now() < end && eventNode.empty(); sleepFor(0.01)) {
      for (const std::string& node : entries("/sys/class/hidraw")) {
        const std::string uevent = contents("/sys/class/hidraw/" + node + "/device/uevent");
        if (ueventValue(uevent, "HID_ID") != "0003:000005F3:000000FF" ||
            ueventValue(uevent, "HID_PHYS").rfind("usb-", 0) != 0)
          continue;
        hidraw = node;
        name = ueventValue(uevent, "HID_NAME");
      }
      if (hidraw.empty())
        continue;
      char target[512] = "";
      const std::string link = "/sys/class/hidraw/" + hidraw + "/device";
      const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
      const std::string path(target, n > 0 ? static_cast<std::size_t>(n) : 0);
      instance = std::stoull("0" + path.substr(path.rfind('.') + 1), nullptr, 16);
      for (const std::string& input : entries(link + "/input"))
        for (const std::string& event : entries(link + "/input/" + input))
          if (event.rfind("event", 0) == 0)
            eventNode = "/dev/input/" + event;
    }
    // The gadget's end is opened afresh: its node belongs to the binding.
    if (output >= 0)
      close(output);
    output = -1;
    for (const std::string& node : entries("/dev"))
      if (node.rfind("hidg", 0) == 0)
        output = open(("/dev/" + node).c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    return !eventNode.empty() && output >= 0;
  }

  // Disconnects it from the host, as pulling the plug would.
  void unbind() { store(root + "/UDC", "\n"); }

  // Sends one input report, once the host has taken the one before.
  bool send(std::span<const std::uint8_t> report) {
    pollfd ready{output, POLLOUT, 0};
    return output >= 0 && poll(&ready, 1, 1000) == 1 &&
           write(output, report.data(), report.size()) == static_cast<ssize_t>(report.size());
  }

  std::string why;  // empty when the gadget was made
  std::string hidraw, eventNode, name;
  std::uint64_t instance = 0;

 private:
  std::string udc;
  int output = -1;  // the gadget's end: /dev/hidgN
};

// Maps the pedal's scan codes to keys on its evdev node, as a desktop's hwdb does, and tells
// listeners the device changed, as udev would.
bool mapKeys(const std::string& node) {
  const int fd = open(node.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return false;
  bool mapped = true;
  for (std::uint32_t usage = 1; usage <= 3; ++usage) {
    input_keymap_entry entry{};
    entry.len = sizeof(std::uint32_t);
    entry.keycode = KEY_F14 + usage - 1;
    const std::uint32_t scancode = 0x90000 + usage;
    std::memcpy(entry.scancode, &scancode, sizeof scancode);
    mapped = mapped && ioctl(fd, EVIOCSKEYCODE_V2, &entry) == 0;
  }
  close(fd);
  return mapped &&
         store("/sys/class/input/" + node.substr(node.rfind('/') + 1) + "/uevent", "change");
}

struct Seen {
  std::vector<std::uint32_t> scans;
  int keys = 0;                                  // key events of any code
  int downs[3] = {0, 0, 0}, ups[3] = {0, 0, 0};  // of KEY_F14, F15, F16
};

Seen seen(const std::vector<input_event>& events) {
  Seen result;
  for (const input_event& event : events) {
    if (event.type == EV_MSC && event.code == MSC_SCAN)
      result.scans.push_back(static_cast<std::uint32_t>(event.value));
    if (event.type != EV_KEY)
      continue;
    ++result.keys;
    if (event.code >= KEY_F14 && event.code <= KEY_F16)
      (event.value ? result.downs : result.ups)[event.code - KEY_F14]++;
  }
  return result;
}

}  // namespace

void usbPedal(Harness& h) {
  Gadget gadget;
  if (!gadget.why.empty()) {
    std::printf("SKIPPED usb: %s\n", gadget.why.c_str());
    return;
  }
  const Send press = [&](std::uint8_t bits) {
    const std::uint8_t report[2] = {bits, 0};
    return gadget.send(report);
  };
  const Raw raw = [&](std::span<const std::uint8_t> report) { return gadget.send(report); };

  const bool bound = gadget.bind();
  const std::string descriptor =
      bound ? contents("/sys/class/hidraw/" + gadget.hidraw + "/device/report_descriptor") : "";
  check(
      bound && descriptor == std::string(pedalDescriptorBytes.begin(), pedalDescriptorBytes.end()),
      "usb-enumerated", "%s %s \"%s\" instance %llu, report descriptor of %zu bytes through usbhid",
      gadget.hidraw.c_str(), gadget.eventNode.c_str(), gadget.name.c_str(),
      static_cast<unsigned long long>(gadget.instance), descriptor.size());
  if (!bound)
    return;

  // Not seized, the desktop sees the pedals as scan codes 0x90001 to 0x90003 and, mapped,
  // as KEY_F14 to KEY_F16. The reader stays open: it stands for the desktop.
  Reader desktop(gadget.eventNode);
  const bool mapped = mapKeys(gadget.eventNode);
  for (const int bit : {1, 2, 4}) {
    press(static_cast<std::uint8_t>(bit));
    press(0);
  }
  const Seen before = seen(desktop.drain(0.2));
  const bool usages = before.scans == std::vector<std::uint32_t>{0x90001, 0x90001, 0x90002,
                                                                 0x90002, 0x90003, 0x90003} &&
                      before.downs[0] == 1 && before.ups[0] == 1 && before.downs[1] == 1 &&
                      before.ups[1] == 1 && before.downs[2] == 1 && before.ups[2] == 1;
  std::string scans;
  char hex[16];
  for (const std::uint32_t scan : before.scans) {
    std::snprintf(hex, sizeof hex, " %#x", scan);
    scans += hex;
  }
  check(mapped && usages, "usb-usages",
        "not seized: MSC_SCAN%s; KEY_F14 %d/%d, F15 %d/%d, F16 %d/%d down/up", scans.c_str(),
        before.downs[0], before.ups[0], before.downs[1], before.ups[1], before.downs[2],
        before.ups[2]);

  // Seized: its reports are decoded, and its key events reach no other reader.
  const std::string line = deviceLine(gadget.name, gadget.instance);
  const bool captured = h.inspect(line) && h.run([](Backend& b) { b.start(true); }, started);
  const int grab = tryGrab(gadget.eventNode);
  check(captured && grab == EBUSY, "usb-seized", "%s; second EVIOCGRAB: %s", line.c_str(),
        grab ? strerrorname_np(grab) : "succeeded");
  check(captured && learnAll(h, press), "usb-learn", "left, middle and right learned from reports");
  const Seen hidden = seen(desktop.drain(0.1));
  check(captured && hidden.keys == 0 && hidden.scans.empty(), "usb-hidden",
        "the desktop's reader saw %d key events, %zu scan codes while seized", hidden.keys,
        hidden.scans.size());
  h.run([](Backend& b) { b.stop("Stopped."); }, "Stopped.");

  restartAfterRefusedReport(h, line, raw, gadget.eventNode, "usb-restart-after-refused-report");
  desktop.drain(0.05);

  // Unplugged while captured: capture stops; plugged in again, it is not captured again.
  std::string statuses;
  const bool again = h.inspect(line) && h.run([](Backend& b) { b.start(true); }, started);
  gadget.unbind();
  check(again && h.await("Device or input permission changed. Inspect again.", 3, &statuses),
        "usb-disconnect", "%s", statuses.c_str());
  const std::size_t from = h.statuses.size();
  const bool rebound = gadget.bind();
  for (const double end = now() + 1; now() < end; sleepFor(0.01))
    h.pump();
  const int regrab = rebound ? tryGrab(gadget.eventNode) : -1;
  check(rebound && h.statuses.size() == from && regrab == 0, "usb-reconnect",
        "back as %s instance %llu: %zu statuses since, EVIOCGRAB %s", gadget.hidraw.c_str(),
        static_cast<unsigned long long>(gadget.instance), h.statuses.size() - from,
        regrab == 0  ? "succeeded"
        : regrab < 0 ? "not tried"
                     : strerrorname_np(regrab));
  // Inspected again, it can be captured and released.
  const std::string back = deviceLine(gadget.name, gadget.instance);
  const bool restarted = rebound && h.inspect(back) &&
                         h.run([](Backend& b) { b.start(true); }, started) &&
                         h.run([](Backend& b) { b.stop("Stopped."); }, "Stopped.");
  const int released = rebound ? tryGrab(gadget.eventNode) : -1;
  check(restarted && released == 0, "usb-released", "captured and stopped after inspection: %s",
        released == 0 ? "nothing left grabbed" : "still grabbed");
}

}  // namespace kerneltest
