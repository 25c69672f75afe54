#include "core/decoder.h"

#include <bit>

#include "core/failure.h"
#include "core/vocabulary.h"

void Decoder::reset() {
  held = 0;
  neutral = false;
  learning.reset();
  candidate = 0;
  learned.clear();
}

std::vector<std::string> Decoder::report(std::span<const std::uint8_t> bytes) {
  if (bytes.size() != 2 || bytes[0] > 7) {
    throw Failure::invalid("Unsupported HID report. Capture stopped.");
  }
  const int state = bytes[0];
  const int previous = held;
  held = state;
  if (state == 0)
    neutral = true;
  if (!neutral)
    return {};

  const int pressed = state & ~previous;

  if (!learning) {
    std::vector<std::string> names;
    if (pressed == 0)
      return names;
    for (auto name : controls) {
      auto found = learned.find(std::string(name));
      if (found != learned.end() && (found->second & pressed) != 0)
        names.emplace_back(name);
    }
    return names;
  }

  if (candidate == 0) {
    if (pressed == 0)
      return {};
    bool owned = false;
    for (const auto& entry : learned)
      owned = owned || entry.second == pressed;
    if (pressed != state || std::popcount(static_cast<unsigned>(pressed)) != 1 || owned) {
      throw Failure::invalid("Learn one distinct pedal at a time.");
    }
    candidate = pressed;
  }

  if ((state & ~candidate) != 0)
    throw Failure::invalid("Overlapping learning inputs.");
  if (state != 0)
    return {};

  learned[*learning] = candidate;
  learning.reset();
  candidate = 0;
  return {};
}
