// Feeds arbitrary bytes to the report-descriptor parser as a kernel-supplied descriptor and checks
// that any size it reports is one the descriptor's input items can account for.
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/linux/descriptor.h"
#include "tests/fuzz/require.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  const std::span<const std::uint8_t> descriptor(bytes, size);
  const auto result = linuxplatform::maxInputReportSize(descriptor);
  require(result == linuxplatform::maxInputReportSize(descriptor));
  if (!result || *result == 0)
    return 0;
  // Every input item is a short main item with tag 8: prefix 0x80 to 0x83. Each adds at most
  // 256 bits times 12288 fields; the report ID adds one byte.
  std::size_t inputs = 0;
  for (const std::uint8_t byte : descriptor)
    inputs += (byte & 0xFC) == 0x80 ? 1 : 0;
  require(inputs > 0);
  require(*result <= inputs * (256 * 12288 / 8) + 1);
  return 0;
}
