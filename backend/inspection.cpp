// Inspection: decides whether exactly one eligible pedal is present and remembers it.

#include <string>

#include "backend/backend.h"

void Backend::inspect() {
  if (captured)
    return;
  selected.reset();
  if (!platform::preflightListenEventAccess()) {
    publish("Grant Input Monitoring using Permissions, then inspect again.");
    return;
  }
  const auto devices = platform::managerCopyDevices(manager);
  if (devices.size() != 1) {
    publish("Found " + std::to_string(devices.size()) +
            " matching VEC HID services. Exactly one is required; composite or identical devices "
            "are not eligible.");
    return;
  }
  const auto& candidate = devices.front();
  const auto transport = platform::deviceGetProperty(candidate, "Transport");
  const auto size = platform::deviceGetProperty(candidate, "MaxInputReportSize");
  const auto* text = std::get_if<std::string>(&transport);
  const auto* number = std::get_if<std::int64_t>(&size);
  if (text == nullptr || *text != "USB" || number == nullptr || *number != 2) {
    publish("VEC device found, but its report format is unsupported. No capture available.");
    return;
  }
  selected = candidate;
  identity = platform::deviceRegistryEntryID(candidate);
  const auto product = platform::deviceGetProperty(candidate, "Product");
  const auto* name = std::get_if<std::string>(&product);
  publish((name != nullptr ? *name : std::string("VEC HID pedal")) +
          " · 05f3:00ff · two-byte candidate protocol · registry " + std::to_string(identity) +
          ". Physical compatibility unverified.");
}
