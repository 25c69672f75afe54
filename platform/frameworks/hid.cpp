// IOKit's HID manager and devices in the framework double, after IOKitUser's hid.subproj
// (IOHIDManager.c, IOHIDDevice.c) and hidsystem.subproj (IOHIDLib.c):
// - a manager makes a device reference of its own for each matching service; setting its matching
//   enumerates the services present, and later arrivals and removals reach its device set only
//   while its run loop runs; its set exists once a device was found, so a manager that never found
//   one copies no set at all (IOHIDManagerCopyDevices returns NULL); the manager need not be open;
// - a device's input-report callbacks are a set keyed by context alone: registering a context
//   already there changes nothing, a NULL callback removes the entry of that context, and each
//   report is handed to every entry while the set must not change;
// - a seizing open fails with kIOReturnExclusiveAccess while another client holds the service,
//   with kIOReturnNotPermitted without Input Monitoring, with kIOReturnNoDevice once it is gone;
// - a terminated service still answers its registry entry ID;
// - IOHIDCheckAccess asks the privacy service (TCC), and IOHIDRequestAccess waits without a time
//   limit for the user's answer to its alert.

#include <algorithm>
#include <chrono>
#include <cstring>

#include "platform/frameworks/world.h"

namespace frameworks {

namespace {

bool matches(const Manager& manager, const Service& service) {
  if (manager.matching == nullptr)
    return true;  // no matching dictionary matches every HID service
  for (const auto& [key, value] : manager.matching->entries) {
    if (key->kind != Kind::string)
      return false;
    auto found = service.values.find(static_cast<const String*>(key)->text);
    if (found == service.values.end() || !equal(found->second, value))
      return false;
  }
  return true;
}

// Forgets the notifications a manager kept for a run loop. World mutex held.
void forget(Manager& manager) {
  sim::state().pending.fetch_sub(static_cast<std::int64_t>(manager.queued.size()));
  manager.queued.clear();
}

void releaseDevice(Object& object) {
  auto& device = static_cast<Device&>(object);
  std::lock_guard hold(world().mutex);
  onLoopThread(device.loop, "release of a scheduled HID device");
  if (device.loop != nullptr)
    unschedule(*device.loop, &device);
  // The kernel closes what the released reference held open.
  if (device.service->opener == &device)
    device.service->opener = nullptr;
}

void releaseManager(Object& object) {
  auto& manager = static_cast<Manager&>(object);
  std::vector<Device*> devices;
  const Dictionary* matching;
  {
    std::lock_guard hold(world().mutex);
    onLoopThread(manager.loop, "release of a scheduled HID manager");
    if (manager.loop != nullptr)
      unschedule(*manager.loop, &manager);
    devices.swap(manager.devices);
    matching = manager.matching;
    forget(manager);
  }
  for (Device* device : devices)
    release(device);
  if (matching != nullptr)
    release(matching);
}

// Adds a device reference for `service` to the manager's set. World mutex held.
void add(Manager& manager, const std::shared_ptr<Service>& service) {
  for (const Device* device : manager.devices)
    if (device->service == service)
      return;
  auto* device = make<Device>();
  device->finalize = releaseDevice;
  device->service = service;
  manager.devices.push_back(device);
  manager.enumerated = true;
}

// Every live manager that follows devices. World mutex held.
std::vector<Manager*> managers() {
  std::vector<Manager*> found;
  for (Object* object : live(Kind::manager))
    if (static_cast<Manager*>(object)->matched)
      found.push_back(static_cast<Manager*>(object));
  return found;
}

// Hands a notification to the manager's run loop, or keeps it until the manager is scheduled.
// World mutex held.
void notify(Manager& manager, std::function<void()> note) {
  if (manager.loop != nullptr) {
    hand(*manager.loop, &manager, std::move(note));
    return;
  }
  // Waiting too: the world is not settled while the manager has news it has not seen.
  sim::state().pending.fetch_add(1);
  manager.queued.push_back(std::move(note));
}

// Puts a manager or a device on `runLoop`, from that loop's thread; one already on another
// thread's run loop is a fault. World mutex held.
template <class T>
T& joinLoop(const void* ref, Kind kind, CFRunLoopRef runLoop, CFStringRef mode, const char* what) {
  defaultMode(mode, what);
  auto& owner = use<T>(ref, kind, what);
  auto& loop = use<RunLoop>(runLoop, Kind::runLoop, what);
  onLoopThread(&loop, what);
  onLoopThread(owner.loop, what);
  owner.loop = &loop;
  schedule(loop, &owner);
  return owner;
}

// Takes a manager or a device off the run loop it is scheduled on, from that loop's thread;
// another run loop than its own changes nothing.
template <class T>
void leaveLoop(const void* ref, Kind kind, CFRunLoopRef runLoop, CFStringRef mode,
               const char* what) {
  defaultMode(mode, what);
  auto& owner = use<T>(ref, kind, what);
  auto& loop = use<RunLoop>(runLoop, Kind::runLoop, what);
  std::lock_guard hold(world().mutex);
  onLoopThread(owner.loop, what);
  if (owner.loop != &loop)
    return;
  unschedule(loop, &owner);
  owner.loop = nullptr;
}

}  // namespace

void arrive(const std::shared_ptr<Service>& service) {
  std::lock_guard hold(world().mutex);
  for (Manager* manager : managers()) {
    notify(*manager, [manager, service] {
      std::lock_guard inner(world().mutex);
      if (!manager->dead && service->present && matches(*manager, *service))
        add(*manager, service);
    });
  }
}

void leave(const std::shared_ptr<Service>& service) {
  std::lock_guard hold(world().mutex);
  for (Manager* manager : managers()) {
    notify(*manager, [manager, service] {
      std::vector<Device*> gone;
      {
        std::lock_guard inner(world().mutex);
        if (manager->dead)
          return;
        auto& devices = manager->devices;
        auto kept = std::stable_partition(devices.begin(), devices.end(),
                                          [&](Device* d) { return d->service != service; });
        gone.assign(kept, devices.end());
        devices.erase(kept, devices.end());
      }
      for (Device* device : gone)
        release(device);
    });
  }
}

std::uint64_t privacyChecks() {
  std::lock_guard hold(world().mutex);
  return world().checks;
}

}  // namespace frameworks

using namespace frameworks;

kern_return_t IORegistryEntryGetRegistryEntryID(io_registry_entry_t entry, uint64_t* entryID) {
  std::lock_guard hold(world().mutex);
  if (failing(sim::Op::registryEntryID))
    return kIOReturnBadArgument;
  for (const auto& [id, service] : world().services) {
    if (service->port == entry) {
      *entryID = id;
      return kIOReturnSuccess;
    }
  }
  return kIOReturnBadArgument;
}

// ---- manager

IOHIDManagerRef IOHIDManagerCreate(CFAllocatorRef, IOOptionBits) {
  {
    std::lock_guard hold(world().mutex);
    if (failing(sim::Op::managerCreate))
      return nullptr;
  }
  auto* manager = make<Manager>();
  manager->finalize = releaseManager;
  return reference<IOHIDManagerRef>(manager);
}

IOReturn IOHIDManagerClose(IOHIDManagerRef ref, IOOptionBits) {
  auto& manager = use<Manager>(ref, Kind::manager, "IOHIDManagerClose");
  std::lock_guard hold(world().mutex);
  onLoopThread(manager.loop, "IOHIDManagerClose");
  return kIOReturnSuccess;
}

void IOHIDManagerScheduleWithRunLoop(IOHIDManagerRef ref, CFRunLoopRef runLoop,
                                     CFStringRef runLoopMode) {
  std::lock_guard hold(world().mutex);
  auto& manager = joinLoop<Manager>(ref, Kind::manager, runLoop, runLoopMode,
                                    "IOHIDManagerScheduleWithRunLoop");
  std::vector<std::function<void()>> queued(manager.queued);
  forget(manager);
  for (auto& note : queued)
    hand(*manager.loop, &manager, std::move(note));
}

void IOHIDManagerUnscheduleFromRunLoop(IOHIDManagerRef ref, CFRunLoopRef runLoop,
                                       CFStringRef runLoopMode) {
  leaveLoop<Manager>(ref, Kind::manager, runLoop, runLoopMode, "IOHIDManagerUnscheduleFromRunLoop");
}

void IOHIDManagerSetDeviceMatching(IOHIDManagerRef ref, CFDictionaryRef matching) {
  auto& manager = use<Manager>(ref, Kind::manager, "IOHIDManagerSetDeviceMatching");
  const Dictionary* dictionary =
      matching != nullptr
          ? &use<Dictionary>(matching, Kind::dictionary, "IOHIDManagerSetDeviceMatching")
          : nullptr;
  if (dictionary != nullptr)
    retain(dictionary);
  std::vector<Device*> old;
  const Dictionary* previous;
  {
    std::lock_guard hold(world().mutex);
    onLoopThread(manager.loop, "IOHIDManagerSetDeviceMatching");
    previous = manager.matching;
    manager.matching = dictionary;
    manager.matched = true;
    old.swap(manager.devices);
    for (const auto& [id, service] : world().services)
      if (service->present && matches(manager, *service))
        add(manager, service);
  }
  for (Device* device : old)
    release(device);
  if (previous != nullptr)
    release(previous);
}

CFSetRef IOHIDManagerCopyDevices(IOHIDManagerRef ref) {
  auto& manager = use<Manager>(ref, Kind::manager, "IOHIDManagerCopyDevices");
  std::vector<const Object*> members;
  {
    std::lock_guard hold(world().mutex);
    onLoopThread(manager.loop, "IOHIDManagerCopyDevices");
    if (failing(sim::Op::copyDevices) || !manager.enumerated)
      return nullptr;
    members.assign(manager.devices.begin(), manager.devices.end());
  }
  return makeSet(members);
}

// ---- device

io_service_t IOHIDDeviceGetService(IOHIDDeviceRef ref) {
  auto& device = use<Device>(ref, Kind::device, "IOHIDDeviceGetService");
  std::lock_guard hold(world().mutex);
  return device.service->port;
}

IOReturn IOHIDDeviceOpen(IOHIDDeviceRef ref, IOOptionBits options) {
  auto& device = use<Device>(ref, Kind::device, "IOHIDDeviceOpen");
  if (options != kIOHIDOptionsTypeSeizeDevice)
    fault("IOHIDDeviceOpen: only the seizing open is modelled");
  std::lock_guard hold(world().mutex);
  onLoopThread(device.loop, "IOHIDDeviceOpen");
  Service& service = *device.service;
  if (!service.present)
    return kIOReturnNoDevice;
  if (failing(sim::Op::deviceOpen) || service.opener != nullptr)
    return kIOReturnExclusiveAccess;
  if (!sim::state().listen)
    return kIOReturnNotPermitted;
  service.opener = &device;
  return kIOReturnSuccess;
}

IOReturn IOHIDDeviceClose(IOHIDDeviceRef ref, IOOptionBits) {
  auto& device = use<Device>(ref, Kind::device, "IOHIDDeviceClose");
  std::lock_guard hold(world().mutex);
  onLoopThread(device.loop, "IOHIDDeviceClose");
  if (device.service->opener == &device)
    device.service->opener = nullptr;
  return kIOReturnSuccess;
}

// A property of the service, owned by the device: the caller gets no reference of its own.
CFTypeRef IOHIDDeviceGetProperty(IOHIDDeviceRef ref, CFStringRef key) {
  auto& device = use<Device>(ref, Kind::device, "IOHIDDeviceGetProperty");
  const auto& name = use<String>(key, Kind::string, "IOHIDDeviceGetProperty").text;
  std::lock_guard hold(world().mutex);
  auto found = device.service->values.find(name);
  return found == device.service->values.end() ? nullptr : found->second;
}

void IOHIDDeviceScheduleWithRunLoop(IOHIDDeviceRef ref, CFRunLoopRef runLoop,
                                    CFStringRef runLoopMode) {
  std::lock_guard hold(world().mutex);
  joinLoop<Device>(ref, Kind::device, runLoop, runLoopMode, "IOHIDDeviceScheduleWithRunLoop");
}

void IOHIDDeviceUnscheduleFromRunLoop(IOHIDDeviceRef ref, CFRunLoopRef runLoop,
                                      CFStringRef runLoopMode) {
  leaveLoop<Device>(ref, Kind::device, runLoop, runLoopMode, "IOHIDDeviceUnscheduleFromRunLoop");
}

void IOHIDDeviceRegisterInputReportCallback(IOHIDDeviceRef ref, uint8_t* report,
                                            CFIndex reportLength, IOHIDReportCallback callback,
                                            void* context) {
  auto& device = use<Device>(ref, Kind::device, "IOHIDDeviceRegisterInputReportCallback");
  std::lock_guard hold(world().mutex);
  onLoopThread(device.loop, "IOHIDDeviceRegisterInputReportCallback");
  auto& set = device.callbacks;
  auto entry = std::find_if(set.begin(), set.end(),
                            [&](const Registration& r) { return r.context == context; });
  const bool changes = callback != nullptr ? entry == set.end() : entry != set.end();
  // CFSetApplyFunction: "the set must not be modified" by the function it calls.
  if (changes && device.applying)
    fault("the device's input-report callback set changed while it was being called back");
  if (callback == nullptr) {
    if (entry != set.end())
      set.erase(entry);
    return;
  }
  if (entry == set.end())
    set.push_back({context, callback});
  device.buffer = report;  // the report buffer is the device's, the last one given
  device.length = reportLength;
}

// ---- Input Monitoring

IOHIDAccessType IOHIDCheckAccess(IOHIDRequestType requestType) {
  std::lock_guard hold(world().mutex);
  ++world().checks;
  const bool granted =
      requestType == kIOHIDRequestTypeListenEvent ? sim::state().listen : sim::state().post;
  return granted ? kIOHIDAccessTypeGranted : kIOHIDAccessTypeDenied;
}

// Without access the system shows its alert and the call waits for the answer. The double does
// not model a remembered refusal: every request without access waits, for at most a minute, so
// that a test of a call that must not wait fails rather than hangs.
bool IOHIDRequestAccess(IOHIDRequestType requestType) {
  std::unique_lock hold(world().mutex);
  ++sim::state().requests;
  bool& granted =
      requestType == kIOHIDRequestTypeListenEvent ? sim::state().listen : sim::state().post;
  const auto asked = sim::state().answers;
  if (!granted)
    sim::state().answered.wait_for(hold, std::chrono::minutes(1),
                                   [&] { return sim::state().answers != asked; });
  return granted;
}
