// The simulated world's controls (platform/sim/sim.h), played on the framework double: the same
// scenario drives either world. Plugging and unplugging wait until every scheduled HID manager has
// seen the change, as a user waits a moment after plugging in before clicking.

#include <chrono>
#include <cstring>
#include <thread>

#include "platform/frameworks/world.h"

namespace frameworks {

namespace {

constexpr auto settleLimit = std::chrono::seconds(10);

void settle() {
  const auto end = std::chrono::steady_clock::now() + settleLimit;
  while (sim::state().pending.load() != 0 && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::microseconds(200));
}

const Object* value(const platform::Property& property) {
  if (const auto* text = std::get_if<std::string>(&property))
    return worldString(*text);
  if (const auto* number = std::get_if<std::int64_t>(&property))
    return worldNumber(*number);
  return nullptr;
}

std::shared_ptr<Service> service(std::uint64_t registryID) {
  std::lock_guard hold(world().mutex);
  auto found = world().services.find(registryID);
  return found == world().services.end() ? nullptr : found->second;
}

const char* name(Kind kind) {
  static const char* const names[] = {
      "string",          "number",    "boolean",     "dictionary", "set",  "run loop",
      "run-loop source", "mach port", "HID manager", "HID device", "event"};
  return names[static_cast<int>(kind)];
}

}  // namespace

}  // namespace frameworks

using namespace frameworks;

namespace sim {

// What the program still holds when the world ends is a leak: every Create and Copy needs its
// release. Run loops of threads still running belong to those threads and stay.
void reset() {
  std::vector<const Object*> held;
  {
    std::lock_guard hold(world().mutex);
    for (auto& [id, service] : world().services)
      for (auto& [key, object] : service->values)
        held.push_back(object);
    world().services.clear();
  }
  for (const Object* object : held)
    release(object);

  std::lock_guard hold(world().mutex);
  std::lock_guard registry(world().registry);
  std::string leaks;
  std::vector<std::pair<Object*, void (*)(Object*)>> kept;
  for (auto& [object, deleter] : world().objects) {
    if (object->kind == Kind::runLoop && !static_cast<RunLoop*>(object)->ended) {
      kept.emplace_back(object, deleter);
      continue;
    }
    if (!object->dead)
      leaks += std::string(leaks.empty() ? "" : ", ") + "a " + name(object->kind);
  }
  if (!leaks.empty())
    fault("still held when the test ended (a leak): " + leaks);
  for (auto& [object, deleter] : world().objects)
    if (object->dead || object->kind != Kind::runLoop || static_cast<RunLoop*>(object)->ended)
      deleter(object);
  world().objects = std::move(kept);
  world().checks = 0;
  sim::resetState();
}

std::uint64_t plug(const Properties& properties) {
  auto made = std::make_shared<Service>();
  made->values[kIOHIDVendorIDKey] = worldNumber(properties.vendor);
  made->values[kIOHIDProductIDKey] = worldNumber(properties.product);
  for (const auto& [key, property] :
       {std::pair<const char*, const platform::Property&>{kIOHIDTransportKey, properties.transport},
        {kIOHIDMaxInputReportSizeKey, properties.maxInputReportSize},
        {kIOHIDProductKey, properties.name}}) {
    if (const Object* object = value(property))
      made->values[key] = object;
  }
  std::uint64_t id;
  {
    std::lock_guard hold(world().mutex);
    id = properties.registryID != 0 ? properties.registryID : world().nextID++;
    made->port = world().nextPort++;
    world().services[id] = made;
  }
  arrive(made);
  settle();
  return id;
}

void unplug(std::uint64_t registryID) {
  auto gone = service(registryID);
  if (!gone)
    return;
  {
    std::lock_guard hold(world().mutex);
    gone->present = false;
  }
  leave(gone);
  settle();
}

bool opened(std::uint64_t registryID) {
  auto found = service(registryID);
  std::lock_guard hold(world().mutex);
  return found && found->opener != nullptr;
}

bool listening(std::uint64_t registryID) {
  auto found = service(registryID);
  std::lock_guard hold(world().mutex);
  if (!found || found->opener == nullptr)
    return false;
  const auto* device = static_cast<const Device*>(found->opener);
  return !device->callbacks.empty() && device->loop != nullptr && !device->loop->ended;
}

// The report reaches the run loop of the device that holds the service open, and there every
// registered callback, with the report in the device's buffer.
bool deliver(std::uint64_t registryID, std::vector<std::uint8_t> bytes, platform::Return result,
             std::uint32_t reportID) {
  auto found = service(registryID);
  std::lock_guard hold(world().mutex);
  if (!found || !found->present || found->opener == nullptr)
    return false;
  auto* device = const_cast<Device*>(static_cast<const Device*>(found->opener));
  if (device->callbacks.empty() || device->loop == nullptr || device->loop->ended)
    return false;
  RunLoop* loop = device->loop;
  hand(*loop, device, [device, loop, bytes = std::move(bytes), result, reportID] {
    std::unique_lock inner(world().mutex);
    if (device->service->opener != device || device->loop != loop || !device->service->present)
      return;
    const auto size = std::min<CFIndex>(device->length, static_cast<CFIndex>(bytes.size()));
    if (size > 0)
      std::memcpy(device->buffer, bytes.data(), static_cast<std::size_t>(size));
    retain(device);
    device->applying = true;
    for (std::size_t at = 0; at < device->callbacks.size(); ++at) {
      const Registration entry = device->callbacks[at];
      inner.unlock();
      entry.callback(entry.context, result, device, kIOHIDReportTypeInput, reportID, device->buffer,
                     size);
      inner.lock();
    }
    device->applying = false;
    inner.unlock();
    release(device);
  });
  return true;
}

}  // namespace sim
