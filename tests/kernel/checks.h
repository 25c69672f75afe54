#pragma once

// Checks of the kernel test's guest kept in files of their own.

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "tests/kernel/harness.h"

namespace kerneltest {

// Writes one input report as the pedal would send it.
using Raw = std::function<bool(std::span<const std::uint8_t>)>;

// A report the decoder refuses stops the isolated test; a start right after the next inspection
// must find the pedal released. `line` is the pedal's inspection line, `node` its evdev node.
void restartAfterRefusedReport(Harness& h, const std::string& line, const Raw& raw,
                               const std::string& node, const char* step);

}  // namespace kerneltest
