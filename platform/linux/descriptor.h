#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace linuxplatform {

// The largest input report a HID device can send, in bytes, computed from its report descriptor
// the way the kernel sizes reports: the input fields of each report are summed in bits and rounded
// up to whole bytes, and one byte is added for the report ID of each report that has one.
// A descriptor without input fields gives 0. A malformed descriptor (a truncated item, a Pop
// without a Push, a report ID of 0 or above 255, sizes the kernel refuses) gives nothing.
std::optional<std::size_t> maxInputReportSize(std::span<const std::uint8_t> descriptor);

// What the platform needs to know of a device's reports: the largest input report, as above, and
// whether reports are numbered (their first byte is the report ID).
struct Reports {
  std::size_t maxInputSize = 0;
  bool numbered = false;
};
std::optional<Reports> parseReports(std::span<const std::uint8_t> descriptor);

}  // namespace linuxplatform
