#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

// Turns the pedal's two-byte reports into presses of learned pedals. Bit values of byte 0 are
// learned one pedal at a time from a complete press and release; nothing is reported until the
// decoder has seen every pedal released once since the last reset.
class Decoder {
 public:
  int held = 0;                         // state byte of the last accepted report
  bool neutral = false;                 // an all-released report was seen since the last reset
  std::optional<std::string> learning;  // the pedal being learned
  int candidate = 0;                    // the bit captured for `learning`, 0 while none
  std::map<std::string, int> learned;   // pedal name to its bit (1, 2 or 4)

  void reset();

  // Returns the learned pedals newly pressed by this report, in left, middle, right order.
  // Throws Failure for an unsupported report or for ambiguous input while learning.
  std::vector<std::string> report(std::span<const std::uint8_t> bytes);
};
