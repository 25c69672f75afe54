#include "platform/linux/descriptor.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "tests/support/pedal.h"

namespace {

using linuxplatform::maxInputReportSize;
using Bytes = std::vector<std::uint8_t>;

std::optional<std::size_t> size(const Bytes& descriptor) {
  return maxInputReportSize(descriptor);
}

const Bytes pedal(pedalDescriptorBytes.begin(), pedalDescriptorBytes.end());

TEST(Descriptor, UnnumberedReportsAreSummedInBits) {
  EXPECT_EQ(size(pedal), 2u);
  // Three bits alone still make one whole byte.
  EXPECT_EQ(size({0x75, 0x01, 0x95, 0x03, 0x81, 0x02}), 1u);
  // Eight bytes of a vendor page.
  EXPECT_EQ(size({0x06, 0x00, 0xFF, 0x75, 0x08, 0x95, 0x08, 0x81, 0x02}), 8u);
}

TEST(Descriptor, NumberedReportsCountTheirIdByteAndTheLargestWins) {
  const Bytes descriptor = {
      0x85, 0x01, 0x75, 0x08, 0x95, 0x02, 0x81, 0x02,  // ID 1: two bytes
      0x85, 0x02, 0x95, 0x05, 0x81, 0x02,              // ID 2: five bytes
      0x85, 0x01, 0x95, 0x01, 0x81, 0x02,              // ID 1 again: one more byte
  };
  EXPECT_EQ(size(descriptor), 6u);
  // A numbered two-byte report is three bytes long on the wire.
  EXPECT_EQ(size({0x85, 0x07, 0x75, 0x08, 0x95, 0x02, 0x81, 0x02}), 3u);
}

TEST(Descriptor, ReportsAreNumberedWhenAnyReportIdAppears) {
  const auto unnumbered = linuxplatform::parseReports(pedal);
  ASSERT_TRUE(unnumbered.has_value());
  EXPECT_FALSE(unnumbered->numbered);
  // An ID given only to an output report numbers the device's reports, but the input report
  // declared before any ID has none of its own, so it carries no ID byte (as the kernel sizes it).
  const auto numbered =
      linuxplatform::parseReports({{0x75, 0x08, 0x95, 0x02, 0x81, 0x02, 0x85, 0x02, 0x91, 0x02}});
  ASSERT_TRUE(numbered.has_value());
  EXPECT_TRUE(numbered->numbered);
  EXPECT_EQ(numbered->maxInputSize, 2u);
}

TEST(Descriptor, OnlyInputItemsCount) {
  // Output (0x91) and Feature (0xB1) reports of 16 bytes beside a 2-byte input report.
  EXPECT_EQ(size({0x75, 0x08, 0x95, 0x10, 0x91, 0x02, 0xB1, 0x02, 0x95, 0x02, 0x81, 0x02}), 2u);
  EXPECT_EQ(size({0x75, 0x08, 0x95, 0x10, 0x91, 0x02}), 0u);
  EXPECT_EQ(size({}), 0u);
}

TEST(Descriptor, PushAndPopRestoreTheGlobalState) {
  const Bytes descriptor = {
      0x75, 0x08, 0x95, 0x01,  // 8 bits x 1
      0xA4,                    // Push
      0x95, 0x20, 0x91, 0x02,  // Output of 32 bytes, in the pushed state only
      0xB4,                    // Pop: back to 8 bits x 1
      0x81, 0x02, 0x81, 0x02,  // two one-byte inputs
  };
  EXPECT_EQ(size(descriptor), 2u);
  EXPECT_EQ(size({0xB4}), std::nullopt);                          // Pop without Push
  EXPECT_EQ(size({0xA4, 0xA4, 0xA4, 0xA4, 0xA4}), std::nullopt);  // deeper than the kernel allows
}

TEST(Descriptor, ItemDataOfEveryWidthIsLittleEndian) {
  // Report Count 0x0102 in two bytes and Report Size 8 in four bytes: 258 bytes.
  EXPECT_EQ(size({0x77, 0x08, 0x00, 0x00, 0x00, 0x96, 0x02, 0x01, 0x81, 0x02}), 258u);
  // A long item (0xFE, size, tag, data) is skipped without disturbing what follows.
  EXPECT_EQ(size({0xFE, 0x02, 0x10, 0x81, 0x02, 0x75, 0x08, 0x95, 0x02, 0x81, 0x02}), 2u);
}

TEST(Descriptor, MalformedDescriptorsHaveNoSize) {
  EXPECT_EQ(size({0x75, 0x08, 0x96, 0x02}), std::nullopt);  // two-byte item cut short
  EXPECT_EQ(size({0xFE, 0x05, 0x10, 0x00}), std::nullopt);  // long item cut short
  EXPECT_EQ(size({0xFE}), std::nullopt);
  EXPECT_EQ(size({0x85, 0x00, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02}), std::nullopt);  // ID 0
  EXPECT_EQ(size({0x86, 0x00, 0x01}), std::nullopt);                                // ID 256
  EXPECT_EQ(size({0x76, 0x01, 0x01}), std::nullopt);  // Report Size 257 bits
  EXPECT_EQ(size({0x96, 0x01, 0x30}), std::nullopt);  // Report Count 12289
}

}  // namespace
