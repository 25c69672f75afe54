#include "platform/linux/descriptor.h"

#include <array>
#include <vector>

namespace linuxplatform {

namespace {

// Limits the kernel's HID parser enforces (drivers/hid/hid-core.c); a descriptor beyond them
// never becomes a device, so it has no report size either.
constexpr std::uint32_t maxReportSizeBits = 256;
constexpr std::uint32_t maxReportCount = 12288;
constexpr std::size_t maxGlobalStack = 4;
constexpr std::uint32_t maxReportId = 255;

struct Globals {
  std::uint32_t reportSize = 0;
  std::uint32_t reportCount = 0;
  std::uint32_t reportId = 0;
};

enum ItemType : std::uint8_t { mainItem = 0, globalItem = 1, localItem = 2 };
enum MainTag : std::uint8_t { inputTag = 8 };
enum GlobalTag : std::uint8_t {
  reportSizeTag = 7,
  reportIdTag = 8,
  reportCountTag = 9,
  pushTag = 10,
  popTag = 11
};

std::uint32_t littleEndian(std::span<const std::uint8_t> data) {
  std::uint32_t value = 0;
  for (std::size_t i = data.size(); i > 0; --i)
    value = value << 8 | data[i - 1];
  return value;
}

}  // namespace

std::optional<std::size_t> maxInputReportSize(std::span<const std::uint8_t> descriptor) {
  const auto reports = parseReports(descriptor);
  if (!reports)
    return std::nullopt;
  return reports->maxInputSize;
}

std::optional<Reports> parseReports(std::span<const std::uint8_t> descriptor) {
  Globals globals;
  std::vector<Globals> stack;
  // Bits of input fields per report ID; ID 0 collects the fields of unnumbered reports.
  std::array<std::uint64_t, maxReportId + 1> bits{};
  bool numbered = false;

  std::size_t at = 0;
  while (at < descriptor.size()) {
    const std::uint8_t prefix = descriptor[at++];
    if (prefix == 0xFE) {
      // Long item: data size, tag, data. No long item is defined, so it is skipped.
      if (descriptor.size() - at < 2)
        return std::nullopt;
      const std::size_t length = descriptor[at];
      at += 2;
      if (descriptor.size() - at < length)
        return std::nullopt;
      at += length;
      continue;
    }
    static constexpr std::array<std::size_t, 4> sizes{0, 1, 2, 4};
    const std::size_t length = sizes[prefix & 3];
    if (descriptor.size() - at < length)
      return std::nullopt;
    const std::uint32_t value = littleEndian(descriptor.subspan(at, length));
    at += length;
    const auto type = static_cast<std::uint8_t>(prefix >> 2 & 3);
    const auto tag = static_cast<std::uint8_t>(prefix >> 4);

    if (type == mainItem && tag == inputTag) {
      bits[globals.reportId] +=
          static_cast<std::uint64_t>(globals.reportSize) * globals.reportCount;
    } else if (type == globalItem) {
      switch (tag) {
        case reportSizeTag:
          if (value > maxReportSizeBits)
            return std::nullopt;
          globals.reportSize = value;
          break;
        case reportCountTag:
          if (value > maxReportCount)
            return std::nullopt;
          globals.reportCount = value;
          break;
        case reportIdTag:
          if (value == 0 || value > maxReportId)
            return std::nullopt;
          globals.reportId = value;
          numbered = true;
          break;
        case pushTag:
          if (stack.size() == maxGlobalStack)
            return std::nullopt;
          stack.push_back(globals);
          break;
        case popTag:
          if (stack.empty())
            return std::nullopt;
          globals = stack.back();
          stack.pop_back();
          break;
        default:
          break;
      }
    }
  }

  // As the kernel's hid_report_len: only a report with an ID of its own carries the ID byte.
  std::uint64_t largest = 0;
  for (std::size_t id = 0; id < bits.size(); ++id) {
    if (bits[id] == 0)
      continue;
    const std::uint64_t bytes = (bits[id] + 7) / 8 + (id > 0 ? 1 : 0);
    if (bytes > largest)
      largest = bytes;
  }
  return Reports{static_cast<std::size_t>(largest), numbered};
}

}  // namespace linuxplatform
