#include "tests/kernel/devices.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/uhid.h>
#include <linux/uinput.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "tests/support/pedal.h"

namespace kerneltest {

namespace {

const std::uint8_t wideBytes[] = {
    0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00, 0x26, 0xFF,
    0x00, 0x75, 0x08, 0x95, 0x08, 0x09, 0x01, 0x81, 0x02, 0xC0,
};

// A keyboard of two bytes: eight modifier bits (left Control, Shift, Alt, GUI, then the right
// ones) and one key slot.
const std::uint8_t keyboardBytes[] = {
    0x05, 0x01, 0x09, 0x06, 0xA1, 0x01,              // Generic Desktop, Keyboard, Application
    0x05, 0x07, 0x19, 0xE0, 0x29, 0xE7,              //   Keyboard page, modifiers E0 to E7
    0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x08,  //   eight one-bit fields
    0x81, 0x02,                                      //   Input (Data, Variable, Absolute)
    0x19, 0x00, 0x29, 0xFF, 0x15, 0x00, 0x26, 0xFF,  //   keys 0 to 255
    0x00, 0x75, 0x08, 0x95, 0x01, 0x81, 0x00,        //   one eight-bit slot (Data, Array)
    0xC0,
};

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> list(const std::string& dir, const char* prefix) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (std::strncmp(e->d_name, prefix, std::strlen(prefix)) == 0)
        names.emplace_back(e->d_name);
    closedir(d);
  }
  return names;
}

std::string trim(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
    text.pop_back();
  return text;
}

}  // namespace

double now() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

void sleepFor(double seconds) {
  timespec t{};
  t.tv_sec = static_cast<time_t>(seconds);
  t.tv_nsec = static_cast<long>((seconds - static_cast<double>(t.tv_sec)) * 1e9);
  nanosleep(&t, nullptr);
}

std::span<const std::uint8_t> pedalDescriptor() {
  return pedalDescriptorBytes;
}

std::span<const std::uint8_t> keyboardDescriptor() {
  return keyboardBytes;
}

std::span<const std::uint8_t> wideDescriptor() {
  return wideBytes;
}

Pedal::Pedal(const std::string& name, const std::string& phys, std::uint16_t bus,
             std::span<const std::uint8_t> descriptor) {
  fd_ = open("/dev/uhid", O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0)
    return;
  uhid_event event{};
  event.type = UHID_CREATE2;
  std::snprintf(reinterpret_cast<char*>(event.u.create2.name), sizeof event.u.create2.name, "%s",
                name.c_str());
  std::snprintf(reinterpret_cast<char*>(event.u.create2.phys), sizeof event.u.create2.phys, "%s",
                phys.c_str());
  event.u.create2.rd_size = static_cast<__u16>(descriptor.size());
  event.u.create2.bus = bus;
  event.u.create2.vendor = 0x05F3;
  event.u.create2.product = 0x00FF;
  std::memcpy(event.u.create2.rd_data, descriptor.data(), descriptor.size());
  if (write(fd_, &event, sizeof event) != sizeof event)
    return;
  // Creation is asynchronous: wait for the hidraw node of this phys.
  const std::string want = "HID_PHYS=" + phys + "\n";
  for (const double end = now() + 5; now() < end && hidraw.empty(); sleepFor(0.01)) {
    pump();
    for (const std::string& node : list("/sys/class/hidraw", "hidraw"))
      if (readFile("/sys/class/hidraw/" + node + "/device/uevent").find(want) != std::string::npos)
        hidraw = node;
  }
  if (hidraw.empty())
    return;
  char target[512] = "";
  const std::string link = "/sys/class/hidraw/" + hidraw + "/device";
  const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
  if (n > 0) {
    const std::string path(target, static_cast<std::size_t>(n));
    hidSysname = path.substr(path.rfind('/') + 1);
    instance = std::stoull(hidSysname.substr(hidSysname.rfind('.') + 1), nullptr, 16);
  }
  const std::string inputs = link + "/input";
  for (const std::string& input : list(inputs, "input"))
    for (const std::string& event_ : list(inputs + "/" + input, "event"))
      eventNode = "/dev/input/" + event_;
}

Pedal::~Pedal() {
  destroy();
}

bool Pedal::send(std::span<const std::uint8_t> report) {
  return sendReport(fd_, report);
}

bool sendReport(int uhid, std::span<const std::uint8_t> report) {
  uhid_event event{};
  event.type = UHID_INPUT2;
  event.u.input2.size = static_cast<__u16>(report.size());
  std::memcpy(event.u.input2.data, report.data(), report.size());
  return write(uhid, &event, sizeof event) == sizeof event;
}

void Pedal::destroy() {
  if (fd_ < 0)
    return;
  uhid_event event{};
  event.type = UHID_DESTROY;
  [[maybe_unused]] const ssize_t n = write(fd_, &event, sizeof event);
  close(fd_);
  fd_ = -1;
}

void Pedal::pump() {
  uhid_event event{};
  while (fd_ >= 0 && read(fd_, &event, sizeof event) > 0) {
    uhid_event reply{};
    if (event.type == UHID_GET_REPORT) {
      reply.type = UHID_GET_REPORT_REPLY;
      reply.u.get_report_reply.id = event.u.get_report.id;
      reply.u.get_report_reply.err = EIO;
    } else if (event.type == UHID_SET_REPORT) {
      reply.type = UHID_SET_REPORT_REPLY;
      reply.u.set_report_reply.id = event.u.set_report.id;
      reply.u.set_report_reply.err = EIO;
    } else {
      continue;
    }
    [[maybe_unused]] const ssize_t n = write(fd_, &reply, sizeof reply);
  }
}

Virtual::Virtual(Kind kind, const std::string& name) {
  fd_ = open("/dev/uinput", O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0)
    return;
  ioctl(fd_, UI_SET_EVBIT, EV_KEY);
  if (kind != Kind::keyboard) {
    ioctl(fd_, UI_SET_EVBIT, EV_REL);
    for (int code : {BTN_LEFT, BTN_RIGHT, BTN_MIDDLE, BTN_SIDE, BTN_EXTRA})
      ioctl(fd_, UI_SET_KEYBIT, code);
    for (int axis : {REL_X, REL_Y, REL_WHEEL})
      ioctl(fd_, UI_SET_RELBIT, axis);
  }
  if (kind != Kind::mouse)
    for (int code : {KEY_LEFTCTRL, KEY_LEFTALT, KEY_LEFTSHIFT, KEY_RIGHTSHIFT, KEY_LEFTMETA,
                     KEY_F12, KEY_ENTER, KEY_SPACE, KEY_A})
      ioctl(fd_, UI_SET_KEYBIT, code);
  const char* const names[] = {"mouse", "keyboard", "combo"};
  const char* kindName = names[static_cast<int>(kind)];
  const std::string phys = name.empty() ? std::string("test/") + kindName : name;
  ioctl(fd_, UI_SET_PHYS, phys.c_str());
  uinput_setup setup{};
  setup.id.bustype = BUS_USB;
  setup.id.vendor = 0x1209;
  setup.id.product = static_cast<__u16>(1 + static_cast<int>(kind));
  std::snprintf(setup.name, sizeof setup.name, "Test %s", kindName);
  ioctl(fd_, UI_DEV_SETUP, &setup);
  ioctl(fd_, UI_DEV_CREATE);
  eventNode = eventNodeByPhys(phys, 2);
}

Virtual::~Virtual() {
  if (fd_ >= 0) {
    ioctl(fd_, UI_DEV_DESTROY);
    close(fd_);
  }
}

void Virtual::emit(std::uint16_t type, std::uint16_t code, std::int32_t value) {
  input_event event{};
  event.type = type;
  event.code = code;
  event.value = value;
  [[maybe_unused]] const ssize_t n = write(fd_, &event, sizeof event);
}

std::string eventNodeByPhys(const std::string& phys, double seconds) {
  for (const double end = now() + seconds;; sleepFor(0.01)) {
    for (const std::string& input : list("/sys/class/input", "input"))
      if (trim(readFile("/sys/class/input/" + input + "/phys")) == phys)
        for (const std::string& event : list("/sys/class/input/" + input, "event"))
          return "/dev/input/" + event;
    if (now() >= end)
      return {};
  }
}

std::vector<std::string> eventNodesByPhys(const std::string& phys) {
  std::vector<std::string> nodes;
  for (const std::string& input : list("/sys/class/input", "input"))
    if (trim(readFile("/sys/class/input/" + input + "/phys")) == phys)
      for (const std::string& event : list("/sys/class/input/" + input, "event"))
        nodes.push_back("/dev/input/" + event);
  return nodes;
}

int tryGrab(const std::string& node) {
  const int fd = open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    return errno;
  int result = 0;
  if (ioctl(fd, EVIOCGRAB, 1) != 0)
    result = errno;
  else
    ioctl(fd, EVIOCGRAB, 0);
  close(fd);
  return result;
}

Reader::Reader(const std::string& node) {
  fd_ = ::open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
}

Reader::~Reader() {
  if (fd_ >= 0)
    close(fd_);
}

std::optional<input_event> Reader::next(double seconds) {
  input_event event{};
  for (const double end = now() + seconds;;) {
    if (read(fd_, &event, sizeof event) == sizeof event)
      return event;
    const double left = end - now();
    if (left <= 0)
      return std::nullopt;
    pollfd p{fd_, POLLIN, 0};
    poll(&p, 1, static_cast<int>(left * 1000) + 1);
  }
}

std::vector<input_event> Reader::drain(double quiet) {
  std::vector<input_event> events;
  while (const auto event = next(quiet))
    events.push_back(*event);
  return events;
}

}  // namespace kerneltest
