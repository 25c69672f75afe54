// Input reports of the seized pedal: decoding, the learning status and the mapped actions.

#include <array>

#include "backend/backend.h"
#include "backend/keys.h"
#include "core/clock.h"
#include "core/failure.h"

namespace {

constexpr std::int32_t scrollLines = 3;

// The mapped action of a decoded pedal. Validated settings map every pedal; anything else is a
// failure like any other, so capture stops rather than guessing.
const std::string& mapped(const Settings& settings, const std::string& name) {
  auto found = settings.mappings.find(name);
  if (found == settings.mappings.end())
    throw Failure::invalid("No action for pedal");
  return found->second;
}

void tagAndPost(const platform::Event& event) {
  platform::setIntegerValueField(event.get(), platform::fieldUserData, eventTag);
  platform::post(platform::sessionEventTap, event);
}

}  // namespace

void Backend::received(void* context, platform::Return result, void*, std::uint32_t,
                       std::uint32_t reportID, std::uint8_t* report, std::int64_t length) {
  if (context == nullptr)
    return;
  static_cast<Backend*>(context)->handle(result, reportID, report, length);
}

void Backend::handle(platform::Return result, std::uint32_t reportID, const std::uint8_t* report,
                     std::int64_t length) {
  if (result != platform::success || reportID != 0 || length != 2 || report == nullptr) {
    stop("Unsupported report or input failure.");
    return;
  }
  const std::array<std::uint8_t, 2> bytes{report[0], report[1]};
  if (!captured)
    return;
  const double now = milliseconds();
  std::vector<std::string> pressed;
  try {
    pressed = decoder.report(bytes);
  } catch (const std::exception&) {
    stop("Input or action validation failed. Capture stopped.");
    return;
  }

  if (active) {
    if (pressed.empty())
      return;
    policy.arm(now);
    for (const auto& name : pressed) {
      try {
        act(mapped(settings, name));
      } catch (const std::exception&) {
        stop("Input or action validation failed. Capture stopped.");
        return;
      }
    }
    return;
  }

  std::string names;
  for (const auto& entry : decoder.learned)
    names += (names.empty() ? "" : ", ") + entry.first;
  publish("Isolated / paused · learned: " + names + " · held: " + std::to_string(decoder.held));
}

void Backend::act(const std::string& action) {
  if (action == "none")
    return;
  if (!platform::isProcessTrusted() || !platform::preflightPostEventAccess())
    throw Failure::invalid("Accessibility lost");

  if (action == "scrollUp" || action == "scrollDown") {
    const auto event = platform::createScrollWheelEvent(
        platform::scrollUnitLine, 1, action == "scrollUp" ? scrollLines : -scrollLines, 0, 0);
    if (!event)
      throw Failure::invalid("Scroll failed");
    tagAndPost(event);
    return;
  }

  const auto code = keyCode(action);
  // No press is synthesized for a key the user is holding.
  if (!code || platform::keyState(platform::combinedSessionState, *code))
    throw Failure::invalid("Key held or unsupported");
  // Both events exist before either is posted, so a failure never leaves a key down.
  const auto down = platform::createKeyboardEvent(*code, true);
  const auto up = platform::createKeyboardEvent(*code, false);
  if (!down || !up)
    throw Failure::invalid("Key held or unsupported");
  tagAndPost(down);
  tagAndPost(up);
}
