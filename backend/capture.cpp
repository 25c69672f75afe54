// Capture start (seizing the inspected pedal for the isolated test) and learning requests.

#include "backend/backend.h"
#include "core/vocabulary.h"

void Backend::start(bool reviewed) {
  // An identity of 0 means the inspection could not read the service's registry entry ID: such a
  // device could not be told apart from another one later, so it is never seized.
  if (captured || !reviewed || !selected || !onlyInspectedPresent() || identity == 0 ||
      platform::deviceRegistryEntryID(selected) != identity ||
      !platform::preflightListenEventAccess()) {
    publish("Inspect one eligible pedal and review recovery first.");
    return;
  }
  for (std::uint32_t button = 0; button <= 4; ++button) {
    if (platform::buttonState(platform::combinedSessionState, button)) {
      publish("Release all mouse buttons and pedals before capture.");
      return;
    }
  }
  if (platform::deviceOpen(selected, platform::seizeDevice) != platform::success) {
    publish(
        "Exclusive HID access refused. Quit other readers; check permissions. No capture "
        "started.");
    return;
  }
  device = selected;
  captured = true;
  active = false;
  decoder.reset();
  platform::deviceRegisterInputReportCallback(device, buffer.get(), bufferSize, &Backend::received,
                                              this);
  platform::deviceScheduleWithRunLoop(device, platform::runLoopGetCurrent());
  publish(
      "Isolated test started. Release pedals to establish neutral, then learn each pedal. Verify "
      "originals and ordinary mouse in another app.");
}

void Backend::learn(const std::string& name) {
  if (!captured || active || decoder.held != 0 || !isControl(name)) {
    publish("Pause and release pedals before learning.");
    return;
  }
  decoder.learned.erase(name);
  decoder.learning = name;
  decoder.candidate = 0;
  publish("Press and release only the " + name + " pedal.");
}
