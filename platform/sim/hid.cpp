// HID manager and device services of the simulated platform.

#include <algorithm>
#include <cstring>

#include "platform/sim/world.h"

namespace platform {

using sim::Op;
using sim::world;

namespace {

void attach(std::weak_ptr<RunLoopObject>& slot, const RunLoop& loop) {
  if (slot.lock() == loop)
    return;
  if (auto old = slot.lock())
    --old->sources;
  slot = loop;
  if (loop)
    ++loop->sources;
}

void detach(std::weak_ptr<RunLoopObject>& slot, const RunLoop& loop) {
  if (auto old = slot.lock(); old && old == loop) {
    --old->sources;
    slot.reset();
  }
}

}  // namespace

Manager managerCreate(std::uint32_t) {
  std::lock_guard hold(world().mutex);
  if (sim::failing(Op::managerCreate))
    return {};
  return std::make_shared<ManagerObject>();
}

void managerSetDeviceMatching(const Manager& manager, std::int64_t vendorID,
                              std::int64_t productID) {
  if (!manager)
    return;
  std::lock_guard hold(world().mutex);
  manager->matching = true;
  manager->vendor = vendorID;
  manager->product = productID;
}

void managerScheduleWithRunLoop(const Manager& manager, const RunLoop& runLoop) {
  if (!manager)
    return;
  std::lock_guard hold(world().mutex);
  attach(manager->loop, runLoop);
}

void managerUnscheduleFromRunLoop(const Manager& manager, const RunLoop& runLoop) {
  if (!manager)
    return;
  std::lock_guard hold(world().mutex);
  detach(manager->loop, runLoop);
}

void managerClose(const Manager& manager, std::uint32_t) {
  if (!manager)
    return;
  std::lock_guard hold(world().mutex);
  manager->closed = true;
}

std::vector<Device> managerCopyDevices(const Manager& manager) {
  std::vector<Device> found;
  if (!manager)
    return found;
  std::lock_guard hold(world().mutex);
  if (sim::failing(Op::copyDevices) || !manager->matching || manager->closed)
    return found;
  for (const auto& [id, device] : world().devices) {
    if (device->present && device->properties.vendor == manager->vendor &&
        device->properties.product == manager->product)
      found.push_back(device);
  }
  return found;
}

Property deviceGetProperty(const Device& device, const std::string& key) {
  if (!device)
    return {};
  std::lock_guard hold(world().mutex);
  if (key == "Transport")
    return device->properties.transport;
  if (key == "MaxInputReportSize")
    return device->properties.maxInputReportSize;
  if (key == "Product")
    return device->properties.name;
  return {};
}

std::uint64_t deviceRegistryEntryID(const Device& device) {
  if (!device)
    return 0;
  std::lock_guard hold(world().mutex);
  // A service that has been terminated no longer answers.
  if (sim::failing(Op::registryEntryID) || !device->present)
    return 0;
  return device->properties.registryID;
}

Return deviceOpen(const Device& device, std::uint32_t) {
  if (!device)
    return noDevice;
  std::lock_guard hold(world().mutex);
  if (sim::failing(Op::deviceOpen) || device->open)
    return exclusiveAccess;
  if (!device->present)
    return noDevice;
  device->open = true;
  return success;
}

Return deviceClose(const Device& device, std::uint32_t) {
  if (!device)
    return noDevice;
  std::lock_guard hold(world().mutex);
  device->open = false;
  return success;
}

void deviceRegisterInputReportCallback(const Device& device, std::uint8_t* report,
                                       std::int64_t length, InputReportCallback callback,
                                       void* context) {
  if (!device)
    return;
  std::lock_guard hold(world().mutex);
  device->buffer = report;
  device->length = length;
  device->callback = callback;
  device->context = context;
}

void deviceScheduleWithRunLoop(const Device& device, const RunLoop& runLoop) {
  if (!device)
    return;
  std::lock_guard hold(world().mutex);
  attach(device->loop, runLoop);
}

void deviceUnscheduleFromRunLoop(const Device& device, const RunLoop& runLoop) {
  if (!device)
    return;
  std::lock_guard hold(world().mutex);
  detach(device->loop, runLoop);
}

}  // namespace platform

namespace sim {

std::uint64_t plug(const Properties& properties) {
  std::lock_guard hold(world().mutex);
  auto device = std::make_shared<platform::DeviceObject>();
  device->properties = properties;
  if (device->properties.registryID == 0)
    device->properties.registryID = world().nextID++;
  const std::uint64_t id = device->properties.registryID;
  world().devices[id] = device;
  return id;
}

void unplug(std::uint64_t registryID) {
  std::lock_guard hold(world().mutex);
  auto found = world().devices.find(registryID);
  if (found == world().devices.end())
    return;
  // The device stays known, so tests can still see whether the program closed it.
  found->second->present = false;
}

bool opened(std::uint64_t registryID) {
  std::lock_guard hold(world().mutex);
  auto found = world().devices.find(registryID);
  return found != world().devices.end() && found->second->open;
}

bool listening(std::uint64_t registryID) {
  std::lock_guard hold(world().mutex);
  auto found = world().devices.find(registryID);
  return found != world().devices.end() && found->second->open && found->second->callback &&
         !found->second->loop.expired();
}

bool deliver(std::uint64_t registryID, std::vector<std::uint8_t> bytes, platform::Return result,
             std::uint32_t reportID) {
  std::shared_ptr<platform::DeviceObject> device;
  std::shared_ptr<platform::RunLoopObject> loop;
  {
    std::lock_guard hold(world().mutex);
    auto found = world().devices.find(registryID);
    if (found == world().devices.end() || !found->second->present || !found->second->callback)
      return false;
    device = found->second;
    loop = device->loop.lock();
    if (!loop)
      return false;
  }
  hand(loop, [device, loop, bytes = std::move(bytes), result, reportID]() mutable {
    platform::InputReportCallback callback;
    void* context;
    std::uint8_t* buffer;
    std::int64_t length;
    {
      std::lock_guard hold(world().mutex);
      if (!device->present || !device->callback || device->loop.lock() != loop)
        return false;
      callback = device->callback;
      context = device->context;
      buffer = device->buffer;
      length = device->length;
    }
    const auto size = std::min<std::int64_t>(length, static_cast<std::int64_t>(bytes.size()));
    if (size > 0)
      std::memcpy(buffer, bytes.data(), static_cast<std::size_t>(size));
    callback(context, result, device.get(), 0, reportID, buffer, size);
    return true;
  });
  return true;
}

}  // namespace sim
