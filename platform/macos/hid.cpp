// HID manager and device services: IOKit's HID manager enumerates the services of one vendor and
// product; a device is opened with the seize option and hands its input reports to the worker's
// run loop.

#include <IOKit/hidsystem/IOHIDLib.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/macos/objects.h"

namespace macos {

namespace {

// IOKit keeps a device's input-report callbacks in a set keyed by context alone and hands each
// report to every entry while walking that set, which must not change meanwhile. The device whose
// report this thread is handing out, if any, and the registrations to remove once the walk is
// over.
thread_local IOHIDDeviceRef reporting = nullptr;
struct Removal {
  Owned<IOHIDDeviceRef> device;
  std::uint8_t* report;
  CFIndex length;
  void* context;
};
thread_local std::vector<Removal> removals;

void received(void* context, IOReturn result, void* sender, IOHIDReportType type,
              std::uint32_t reportID, std::uint8_t* report, CFIndex length) {
  const auto* device = static_cast<const platform::DeviceObject*>(context);
  if (device == nullptr || device->callback == nullptr)
    return;
  IOHIDDeviceRef outer = reporting;
  reporting = device->device.get();
  // The program's callback may stop capture and free `device`: nothing here touches it after.
  device->callback(device->context, result, sender, static_cast<std::uint32_t>(type), reportID,
                   report, length);
  reporting = outer;
}

// Removes the registration made with `context` (the DeviceObject), now or, inside that device's
// own report, as soon as the run loop returns.
void unregister(IOHIDDeviceRef device, std::uint8_t* report, CFIndex length, void* context) {
  if (device == reporting) {
    removals.push_back({Owned<IOHIDDeviceRef>(retained(device)), report, length, context});
    return;
  }
  IOHIDDeviceRegisterInputReportCallback(device, report, length, nullptr, context);
}

}  // namespace

void unregisterDeferred() {
  // Taken first: a removal never adds to the list it is walked from.
  std::vector<Removal> due;
  due.swap(removals);
  for (const auto& removal : due)
    IOHIDDeviceRegisterInputReportCallback(removal.device.get(), removal.report, removal.length,
                                           nullptr, removal.context);
}

}  // namespace macos

namespace platform {

namespace {

macos::Owned<CFStringRef> text(const std::string& value) {
  return macos::Owned<CFStringRef>(
      CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(value.data()),
                              static_cast<CFIndex>(value.size()), kCFStringEncodingUTF8, false));
}

std::string utf8(CFStringRef value) {
  const CFIndex size =
      CFStringGetMaximumSizeForEncoding(CFStringGetLength(value), kCFStringEncodingUTF8) + 1;
  std::string out(static_cast<std::size_t>(size), '\0');
  if (!CFStringGetCString(value, out.data(), size, kCFStringEncodingUTF8))
    return {};
  out.resize(std::strlen(out.c_str()));
  return out;
}

macos::Owned<CFNumberRef> number(std::int64_t value) {
  return macos::Owned<CFNumberRef>(
      CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt64Type, &value));
}

}  // namespace

DeviceObject::~DeviceObject() {
  if (callback != nullptr)
    macos::unregister(device.get(), report, length, this);
  if (scheduled.get() != nullptr)
    IOHIDDeviceUnscheduleFromRunLoop(device.get(), scheduled.get(), kCFRunLoopDefaultMode);
  if (open)
    IOHIDDeviceClose(device.get(), kIOHIDOptionsTypeNone);
}

// ---- manager

Manager managerCreate(std::uint32_t options) {
  IOHIDManagerRef manager = IOHIDManagerCreate(kCFAllocatorDefault, options);
  if (manager == nullptr)
    return {};
  return std::make_shared<ManagerObject>(manager);
}

void managerSetDeviceMatching(const Manager& manager, std::int64_t vendorID,
                              std::int64_t productID) {
  if (!manager)
    return;
  const auto vendorKey = text(kIOHIDVendorIDKey);
  const auto productKey = text(kIOHIDProductIDKey);
  const auto vendor = number(vendorID);
  const auto product = number(productID);
  if (!vendorKey.get() || !productKey.get() || !vendor.get() || !product.get())
    return;
  const void* keys[] = {vendorKey.get(), productKey.get()};
  const void* values[] = {vendor.get(), product.get()};
  const macos::Owned<CFDictionaryRef> matching(
      CFDictionaryCreate(kCFAllocatorDefault, keys, values, 2, &kCFTypeDictionaryKeyCallBacks,
                         &kCFTypeDictionaryValueCallBacks));
  // No dictionary would match every HID device there is; without matching the set stays empty.
  if (matching.get() != nullptr)
    IOHIDManagerSetDeviceMatching(manager->manager.get(), matching.get());
}

void managerScheduleWithRunLoop(const Manager& manager, const RunLoop& runLoop) {
  if (manager && runLoop)
    IOHIDManagerScheduleWithRunLoop(manager->manager.get(), runLoop->loop.get(),
                                    kCFRunLoopDefaultMode);
}

void managerUnscheduleFromRunLoop(const Manager& manager, const RunLoop& runLoop) {
  if (manager && runLoop)
    IOHIDManagerUnscheduleFromRunLoop(manager->manager.get(), runLoop->loop.get(),
                                      kCFRunLoopDefaultMode);
}

void managerClose(const Manager& manager, std::uint32_t options) {
  if (manager)
    IOHIDManagerClose(manager->manager.get(), options);
}

std::vector<Device> managerCopyDevices(const Manager& manager) {
  std::vector<Device> found;
  if (!manager)
    return found;
  const macos::Owned<CFSetRef> set(IOHIDManagerCopyDevices(manager->manager.get()));
  if (set.get() == nullptr)
    return found;
  std::vector<const void*> members(static_cast<std::size_t>(CFSetGetCount(set.get())));
  CFSetGetValues(set.get(), members.data());
  for (const void* member : members) {
    // The set's members are HID devices, which the set holds; each handle retains its own.
    auto* device = static_cast<IOHIDDeviceRef>(const_cast<void*>(member));
    found.push_back(std::make_shared<DeviceObject>(device));
  }
  return found;
}

// ---- device

Property deviceGetProperty(const Device& device, const std::string& key) {
  if (!device)
    return {};
  const auto name = text(key);
  if (name.get() == nullptr)
    return {};
  const CFTypeRef value = IOHIDDeviceGetProperty(device->device.get(), name.get());
  if (value == nullptr)
    return {};
  if (CFGetTypeID(value) == CFStringGetTypeID())
    return utf8(static_cast<CFStringRef>(value));
  if (CFGetTypeID(value) == CFNumberGetTypeID()) {
    std::int64_t integer = 0;
    // A number that is not whole converts to its integer part.
    CFNumberGetValue(static_cast<CFNumberRef>(value), kCFNumberSInt64Type, &integer);
    return integer;
  }
  return {};
}

std::uint64_t deviceRegistryEntryID(const Device& device) {
  if (!device)
    return 0;
  std::uint64_t id = 0;
  // The return code is not looked at: a failed query leaves 0.
  IORegistryEntryGetRegistryEntryID(IOHIDDeviceGetService(device->device.get()), &id);
  return id;
}

Return deviceOpen(const Device& device, std::uint32_t options) {
  if (!device)
    return noDevice;
  // Reading reports through IOHIDDevice needs Input Monitoring as the HID services see it, which
  // only the privacy service can tell: asked here, where capture starts, never in a pass.
  if (IOHIDCheckAccess(kIOHIDRequestTypeListenEvent) != kIOHIDAccessTypeGranted)
    return notPermitted;
  const IOReturn result = IOHIDDeviceOpen(device->device.get(), options);
  if (result == kIOReturnSuccess)
    device->open = true;
  return result;
}

Return deviceClose(const Device& device, std::uint32_t options) {
  if (!device)
    return noDevice;
  device->open = false;
  return IOHIDDeviceClose(device->device.get(), options);
}

void deviceRegisterInputReportCallback(const Device& device, std::uint8_t* report,
                                       std::int64_t length, InputReportCallback callback,
                                       void* context) {
  if (!device)
    return;
  // IOKit's entry for this device is keyed by the DeviceObject: a removal names it too.
  if (callback == nullptr) {
    if (device->callback != nullptr)
      macos::unregister(device->device.get(), device->report, device->length, device.get());
    device->callback = nullptr;
    device->context = nullptr;
    return;
  }
  device->callback = callback;
  device->context = context;
  device->report = report;
  device->length = static_cast<CFIndex>(length);
  IOHIDDeviceRegisterInputReportCallback(device->device.get(), report, device->length,
                                         &macos::received, device.get());
}

void deviceScheduleWithRunLoop(const Device& device, const RunLoop& runLoop) {
  if (!device || !runLoop || device->scheduled.get() != nullptr)
    return;
  IOHIDDeviceScheduleWithRunLoop(device->device.get(), runLoop->loop.get(), kCFRunLoopDefaultMode);
  device->scheduled.adopt(macos::retained(runLoop->loop.get()));
}

void deviceUnscheduleFromRunLoop(const Device& device, const RunLoop& runLoop) {
  if (!device || !runLoop || device->scheduled.get() != runLoop->loop.get())
    return;
  IOHIDDeviceUnscheduleFromRunLoop(device->device.get(), runLoop->loop.get(),
                                   kCFRunLoopDefaultMode);
  device->scheduled.adopt(nullptr);
}

}  // namespace platform
