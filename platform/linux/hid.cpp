// The HID manager and devices of the seam: libudev enumeration of hidraw devices, a udev monitor
// that keeps the set current, seizing by hidraw plus EVIOCGRAB of the device's evdev nodes, and
// input reports read from hidraw on the worker's loop.

#include <dirent.h>
#include <fcntl.h>
#include <linux/input.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <utility>

#include "platform/linux/inputs.h"
#include "platform/linux/objects.h"
#include "platform/linux/sysfs.h"
#include "platform/linux/uinput.h"

namespace platform {

namespace {

// kIOReturnError: a report read that failed for another reason than the device leaving.
constexpr Return ioError = static_cast<Return>(0xE00002BCu);
constexpr std::uint32_t inputReportType = 0;

// The live managers, so that the input-monitoring check can test the pedal's nodes.
std::vector<ManagerObject*>& managers() {
  static std::vector<ManagerObject*> all;
  return all;
}

// Counts up whenever a manager or a device set changes, so that an answer about the devices
// present can be kept until then.
std::uint64_t changes = 0;

Device makeDevice(ManagerObject& manager, udev_device* hidraw) {
  udev_device* hid = udev_device_get_parent_with_subsystem_devtype(hidraw, "hid", nullptr);
  const char* devnode = udev_device_get_devnode(hidraw);
  if (!hid || !devnode)
    return nullptr;
  const std::string syspath = udev_device_get_syspath(hid);
  const std::string uevent = linuxplatform::readText(syspath + "/uevent");
  const auto idText = linuxplatform::ueventValue(uevent, "HID_ID");
  const auto id = idText ? linuxplatform::parseHidId(*idText) : std::nullopt;
  if (!id || id->vendor != manager.vendor || id->product != manager.product)
    return nullptr;
  auto device = std::make_shared<DeviceObject>();
  device->context = udev_ref(manager.context);
  device->hidSyspath = syspath;
  device->devnode = devnode;
  device->bus = id->bus;
  device->instance = linuxplatform::hidInstance(udev_device_get_sysname(hid)).value_or(0);
  if (const auto name = linuxplatform::ueventValue(uevent, "HID_NAME"))
    device->product = std::string(*name);
  const std::string descriptor = linuxplatform::readText(syspath + "/report_descriptor");
  device->reports = linuxplatform::parseReports(
      std::span(reinterpret_cast<const std::uint8_t*>(descriptor.data()), descriptor.size()));
  return device;
}

// Rebuilds the device set from sysfs, keeping the objects of devices still present.
void scan(ManagerObject& manager) {
  std::map<std::string, Device> before = std::exchange(manager.devices, {});
  udev_enumerate* enumerate = udev_enumerate_new(manager.context);
  udev_enumerate_add_match_subsystem(enumerate, "hidraw");
  udev_enumerate_scan_devices(enumerate);
  udev_list_entry* entry;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate)) {
    const std::string syspath = udev_list_entry_get_name(entry);
    const auto kept = before.find(syspath);
    if (kept != before.end()) {
      manager.devices.emplace(syspath, kept->second);
      before.erase(kept);
      continue;
    }
    udev_device* hidraw = udev_device_new_from_syspath(manager.context, syspath.c_str());
    if (!hidraw)
      continue;
    if (Device device = makeDevice(manager, hidraw))
      manager.devices.emplace(syspath, std::move(device));
    udev_device_unref(hidraw);
  }
  udev_enumerate_unref(enumerate);
  for (auto& [syspath, device] : before)
    device->present = false;
  ++changes;
}

void forget(ManagerObject& manager, const std::string& syspath) {
  const auto found = manager.devices.find(syspath);
  if (found == manager.devices.end())
    return;
  found->second->present = false;
  manager.devices.erase(found);
  ++changes;
}

// Applies the arrivals and departures of hidraw devices the monitor has seen.
void drain(ManagerObject& manager) {
  if (!manager.monitor)
    return;
  errno = 0;
  while (udev_device* device = udev_monitor_receive_device(manager.monitor)) {
    const char* action = udev_device_get_action(device);
    const std::string syspath = udev_device_get_syspath(device);
    if (action && std::strcmp(action, "add") == 0) {
      if (Device made = makeDevice(manager, device)) {
        manager.devices.insert_or_assign(syspath, std::move(made));
        ++changes;
      }
    } else if (action && std::strcmp(action, "remove") == 0) {
      forget(manager, syspath);
    }
    udev_device_unref(device);
  }
  // The socket overflowed while nobody read it: what it dropped is learnt by a new scan.
  if (errno == ENOBUFS)
    scan(manager);
}

void monitorReady(void* context, std::uint32_t) {
  drain(*static_cast<ManagerObject*>(context));
}

// A manager scheduled on a loop learns of arrivals and departures from it, as they come; one
// that is not must ask its monitor whenever its set is used.
void catchUp(ManagerObject& manager) {
  if (!manager.watch)
    drain(manager);
}

void unwatch(DeviceObject& device) {
  if (device.loop && device.watch)
    device.loop->remove(device.watch);
  device.watch = 0;
}

// The kernel removed the device: its node hangs up. Capture learns of it from the device set,
// which no longer holds it, as it would from the monitor's removal event.
void vanished(DeviceObject& device) {
  unwatch(device);
  device.present = false;
  for (ManagerObject* manager : managers())
    for (auto it = manager->devices.begin(); it != manager->devices.end(); ++it)
      if (it->second.get() == &device) {
        manager->devices.erase(it);
        ++changes;
        break;
      }
}

void reportReady(void* context, std::uint32_t events) {
  auto& device = *static_cast<DeviceObject*>(context);
  // The callback may close and release the device: keep it alive until this handler returns.
  const Device keep = device.shared_from_this();
  const ssize_t n =
      read(device.hidraw.get(), device.buffer, static_cast<std::size_t>(device.length));
  if (n > 0) {
    const std::uint32_t id = device.reports && device.reports->numbered ? device.buffer[0] : 0;
    device.callback(device.callbackContext, success, &device, inputReportType, id, device.buffer,
                    n);
    linuxplatform::flushPosted();
    return;
  }
  if (n < 0 && (errno == EAGAIN || errno == EINTR) && !(events & (EPOLLHUP | EPOLLERR)))
    return;
  if (n == 0 || errno == EIO || errno == ENODEV || (events & (EPOLLHUP | EPOLLERR))) {
    vanished(device);
    return;
  }
  device.callback(device.callbackContext, ioError, &device, inputReportType, 0, device.buffer, 0);
}

void rewatch(DeviceObject& device) {
  unwatch(device);
  if (device.loop && device.hidraw && device.callback && device.buffer && device.length > 0)
    device.watch = device.loop->add(device.hidraw.get(), &reportReady, &device);
}

Return refusal(int error) {
  if (error == EACCES || error == EPERM)
    return notPermitted;
  if (error == EBUSY)
    return exclusiveAccess;
  return noDevice;
}

// Whether a process other than this one holds the character device `devnode` open, under any
// path. Only the processes whose descriptors this one may see are asked: the user's own (all of
// them for root), which are the ones that can read a node the user was given.
bool heldElsewhere(const std::string& devnode) {
  struct stat node {};
  if (stat(devnode.c_str(), &node) != 0 || !S_ISCHR(node.st_mode))
    return false;
  const std::string self = std::to_string(getpid());
  DIR* processes = opendir("/proc");
  if (!processes)
    return false;
  bool held = false;
  while (const dirent* process = readdir(processes)) {
    if (held)
      break;
    const std::string_view pid = process->d_name;
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string_view::npos || pid == self)
      continue;
    const std::string fds = "/proc/" + std::string(pid) + "/fd";
    DIR* listing = opendir(fds.c_str());
    if (!listing)
      continue;  // another user's process, or one that just ended
    while (const dirent* fd = readdir(listing)) {
      if (fd->d_name[0] == '.')
        continue;
      const std::string link = fds + "/" + fd->d_name;
      char target[64];
      const ssize_t n = readlink(link.c_str(), target, sizeof target);
      // Sockets, pipes and the like are no device node.
      if (n <= 0 || target[0] != '/')
        continue;
      struct stat opened {};
      if (stat(link.c_str(), &opened) == 0 && S_ISCHR(opened.st_mode) &&
          opened.st_rdev == node.st_rdev) {
        held = true;
        break;
      }
    }
    closedir(listing);
  }
  closedir(processes);
  return held;
}

// Releases every key and button the kernel holds down on the evdev node of `fd`, by injecting the
// releases through it: a grabbing descriptor's injections reach only itself, an ungrabbed one's
// every reader. Needs a descriptor opened for writing; a read-only one changes nothing.
void release(int fd) {
  std::vector<input_event> releases;
  for (const std::uint16_t code : linuxplatform::keysDown(fd))
    releases.push_back(input_event{{}, EV_KEY, code, 0});
  if (releases.empty())
    return;
  releases.push_back(input_event{{}, EV_SYN, SYN_REPORT, 0});
  [[maybe_unused]] const ssize_t n =
      write(fd, releases.data(), releases.size() * sizeof(input_event));
}

// Ends the grab of `fd`, which was taken with nothing down. What the device pressed since reached
// no other reader, yet the kernel would keep it down after the grab: a later seize would find it
// held and be refused, and other readers would get releases without their presses. So those
// presses are released while the grab still hides the releases. The report that ended capture
// reaches hidraw before the input layer, and its presses may land just after the grab ends,
// seen by everyone: they are released as well, so nothing the pedal sent stays down.
void ungrab(int fd) {
  release(fd);
  ioctl(fd, EVIOCGRAB, 0);
  release(fd);
}

// The evdev nodes the kernel made for the same HID device.
std::vector<std::string> eventNodes(const DeviceObject& device) {
  std::vector<std::string> nodes;
  udev_device* hid = udev_device_new_from_syspath(device.context, device.hidSyspath.c_str());
  if (!hid)
    return nodes;
  udev_enumerate* enumerate = udev_enumerate_new(device.context);
  udev_enumerate_add_match_subsystem(enumerate, "input");
  udev_enumerate_add_match_parent(enumerate, hid);
  udev_enumerate_scan_devices(enumerate);
  udev_list_entry* entry;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate)) {
    udev_device* input =
        udev_device_new_from_syspath(device.context, udev_list_entry_get_name(entry));
    if (!input)
      continue;
    const char* sysname = udev_device_get_sysname(input);
    const char* devnode = udev_device_get_devnode(input);
    if (sysname && devnode && std::strncmp(sysname, "event", 5) == 0)
      nodes.emplace_back(devnode);
    udev_device_unref(input);
  }
  udev_enumerate_unref(enumerate);
  udev_device_unref(hid);
  return nodes;
}

}  // namespace

DeviceObject::~DeviceObject() {
  unwatch(*this);
  if (context)
    udev_unref(context);
}

ManagerObject::~ManagerObject() {
  if (loop && watch)
    loop->remove(watch);
  std::erase(managers(), this);
  ++changes;
  if (monitor)
    udev_monitor_unref(monitor);
  if (context)
    udev_unref(context);
}

Manager managerCreate(std::uint32_t) {
  auto manager = std::make_shared<ManagerObject>();
  manager->context = udev_new();
  if (!manager->context)
    return nullptr;
  managers().push_back(manager.get());
  ++changes;
  return manager;
}

void managerSetDeviceMatching(const Manager& manager, std::int64_t vendorID,
                              std::int64_t productID) {
  if (!manager)
    return;
  manager->vendor = vendorID;
  manager->product = productID;
  manager->devices.clear();
  ++changes;
  if (!manager->monitor) {
    // Listening before enumerating, so no arrival falls between the two.
    manager->monitor =
        udev_monitor_new_from_netlink(manager->context, linuxplatform::monitorSource());
    if (manager->monitor) {
      udev_monitor_filter_add_match_subsystem_devtype(manager->monitor, "hidraw", nullptr);
      if (udev_monitor_enable_receiving(manager->monitor) < 0) {
        udev_monitor_unref(manager->monitor);
        manager->monitor = nullptr;
      } else {
        const int fd = udev_monitor_get_fd(manager->monitor);
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        fcntl(fd, F_SETFD, FD_CLOEXEC);
      }
    }
  }
  scan(*manager);
}

void managerScheduleWithRunLoop(const Manager& manager, const RunLoop& runLoop) {
  if (!manager || !runLoop || !manager->monitor || manager->watch)
    return;
  manager->loop = runLoop->loop;
  drain(*manager);
  manager->watch =
      manager->loop->add(udev_monitor_get_fd(manager->monitor), &monitorReady, manager.get());
  ++changes;
  // The input devices' state and access are then kept current from the same loop.
  linuxplatform::Inputs::instance().attach(*manager->loop);
}

void managerUnscheduleFromRunLoop(const Manager& manager, const RunLoop&) {
  if (!manager || !manager->loop)
    return;
  linuxplatform::Inputs::instance().detach(*manager->loop);
  manager->loop->remove(manager->watch);
  manager->watch = 0;
  manager->loop = nullptr;
  ++changes;
}

void managerClose(const Manager& manager, std::uint32_t) {
  if (manager)
    manager->devices.clear();
  ++changes;
}

std::vector<Device> managerCopyDevices(const Manager& manager) {
  std::vector<Device> devices;
  if (!manager || manager->vendor < 0)
    return devices;
  catchUp(*manager);
  for (const auto& [syspath, device] : manager->devices)
    if (device->present)
      devices.push_back(device);
  return devices;
}

Property deviceGetProperty(const Device& device, const std::string& key) {
  if (!device)
    return {};
  if (key == "Transport")
    return linuxplatform::transportName(device->bus);
  if (key == "MaxInputReportSize" && device->reports)
    return static_cast<std::int64_t>(device->reports->maxInputSize);
  if (key == "Product" && !device->product.empty())
    return device->product;
  return {};
}

std::uint64_t deviceRegistryEntryID(const Device& device) {
  return device ? device->instance : 0;
}

Return deviceOpen(const Device& device, std::uint32_t options) {
  if (!device || !device->present)
    return noDevice;
  if (device->hidraw)
    return success;
  // hidraw has no exclusive open: a reader that holds the node keeps receiving every report.
  // Seizing is refused while one does, as another reader refuses it elsewhere.
  if ((options & seizeDevice) && heldElsewhere(device->devnode))
    return exclusiveAccess;
  auto& nodes = linuxplatform::Nodes::worker();
  constexpr auto pedal = protocol::Kind::pedal;
  linuxplatform::Opened hidraw =
      nodes.open(pedal, device->devnode, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (!hidraw)
    return refusal(errno);
  // Seizing grabs every evdev node of the device. A refusal closes what was opened so far, which
  // also ends the grabs already taken.
  std::vector<linuxplatform::Opened> grabs;
  std::vector<std::string> grabbed;
  if (options & seizeDevice) {
    for (const std::string& node : eventNodes(*device)) {
      // Written to only to release what the grab held back (see `ungrab`); read-only will do.
      linuxplatform::Opened fd = nodes.open(pedal, node, O_RDWR | O_NONBLOCK | O_CLOEXEC);
      if (!fd && (errno == EACCES || errno == EPERM))
        fd = nodes.open(pedal, node, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
      if (!fd)
        return refusal(errno);
      // A grab taken while one of the device's keys or buttons is down would keep its release
      // from everyone who saw the press: the desktop would hold that key down for good. Such a
      // seize is refused; the grab's own queue is fresh, so asking the state costs it nothing.
      linuxplatform::KeyBits held{};
      const bool taken = ioctl(fd.get(), EVIOCGRAB, 1) == 0;
      const int error = taken ? 0 : errno;
      const bool down = taken && (ioctl(fd.get(), EVIOCGKEY(sizeof held), held.data()) < 0 ||
                                  std::any_of(held.begin(), held.end(),
                                              [](unsigned long bits) { return bits != 0; }));
      if (!taken || down) {
        if (taken)
          ioctl(fd.get(), EVIOCGRAB, 0);
        for (linuxplatform::Opened& other : grabs)
          ungrab(other.get());
        return taken ? exclusiveAccess : refusal(error);
      }
      // The grab holds the device's events back from everyone; nobody reads them here.
      linuxplatform::maskEvents(fd.get(), false);
      grabs.push_back(std::move(fd));
      grabbed.push_back(node);
    }
  }
  device->hidraw = std::move(hidraw);
  device->grabs = std::move(grabs);
  device->grabbed = std::move(grabbed);
  // What the seized device sends is no one's input: its keys held do not count as the user's.
  for (const std::string& node : device->grabbed)
    linuxplatform::Inputs::instance().exclude(node, true);
  rewatch(*device);
  return success;
}

Return deviceClose(const Device& device, std::uint32_t) {
  if (!device || !device->hidraw)
    return noDevice;
  unwatch(*device);
  for (linuxplatform::Opened& taken : device->grabs)
    ungrab(taken.get());
  for (const std::string& node : device->grabbed)
    linuxplatform::Inputs::instance().exclude(node, false);
  device->grabs.clear();
  device->grabbed.clear();
  device->hidraw.reset();
  return success;
}

void deviceRegisterInputReportCallback(const Device& device, std::uint8_t* report,
                                       std::int64_t length, InputReportCallback callback,
                                       void* context) {
  if (!device)
    return;
  device->callback = callback;
  device->callbackContext = context;
  device->buffer = report;
  device->length = length;
  rewatch(*device);
}

void deviceScheduleWithRunLoop(const Device& device, const RunLoop& runLoop) {
  if (!device || !runLoop)
    return;
  device->loop = runLoop->loop;
  rewatch(*device);
}

void deviceUnscheduleFromRunLoop(const Device& device, const RunLoop&) {
  if (!device)
    return;
  unwatch(*device);
  device->loop = nullptr;
}

}  // namespace platform

bool linuxplatform::seized(const std::string& devnode) {
  for (platform::ManagerObject* manager : platform::managers())
    for (const auto& [syspath, device] : manager->devices)
      for (const std::string& node : device->grabbed)
        if (node == devnode)
          return true;
  return false;
}

namespace platform {

bool preflightListenEventAccess() {
  // The watchdog's question of every pass. A grant is kept while nothing it came from changes:
  // the devices present, which the managers' monitors tell of from the loop, and the access
  // answers, which inotify or the helper's connection keeps. A refusal is asked again each time.
  static std::uint64_t grantedAt = 0;
  static std::uint64_t grantedChanges = 0;
  auto& inputs = linuxplatform::Inputs::instance();
  if (grantedAt != 0 && grantedAt == inputs.generation() && grantedChanges == changes)
    return true;
  grantedAt = 0;
  bool kept = true;
  auto& nodes = linuxplatform::Nodes::worker();
  for (ManagerObject* manager : managers()) {
    kept = kept && manager->watch;
    catchUp(*manager);
    for (const auto& [syspath, device] : manager->devices) {
      // A device seized with nodes of a connection of the helper that has since ended may have
      // lost its grabs with them (revoked): that access is gone, whatever a new connection gives.
      if (!nodes.current(device->hidraw))
        return false;
      for (const linuxplatform::Opened& grab : device->grabs)
        if (!nodes.current(grab))
          return false;
      bool remembered = false;
      if (inputs.accessError(protocol::Kind::pedal, device->devnode, R_OK, &remembered) != 0)
        return false;
      kept = kept && remembered;
    }
  }
  if (!inputs.readable())
    return false;
  grantedAt = kept ? inputs.generation() : 0;
  grantedChanges = changes;
  return true;
}

void requestListenEventAccess() {}

bool statePolled() {
  // The device sets follow the managers' monitors and the inputs announce their changes on the
  // worker's loop; where either does not, the answers are asked afresh and must be asked again
  // at every pass.
  for (const ManagerObject* manager : managers())
    if (!manager->watch)
      return true;
  return !linuxplatform::Inputs::instance().announced();
}

}  // namespace platform
