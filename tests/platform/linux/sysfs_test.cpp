#include "platform/linux/sysfs.h"

#include <gtest/gtest.h>

#include <optional>
#include <string_view>

namespace {

using namespace linuxplatform;

const std::string_view uevent =
    "DRIVER=hid-generic\n"
    "HID_ID=0003:000005F3:000000FF\n"
    "HID_NAME=VEC  USB Footpedal\n"
    "HID_PHYS=usb-0000:00:14.0-2/input0\n"
    "HID_UNIQ=\n"
    "MODALIAS=hid:b0003g0001v000005F3p000000FF";

TEST(Uevent, ValuesAreFoundByTheirWholeKey) {
  EXPECT_EQ(ueventValue(uevent, "HID_NAME"), "VEC  USB Footpedal");
  EXPECT_EQ(ueventValue(uevent, "MODALIAS"), "hid:b0003g0001v000005F3p000000FF");  // last line
  EXPECT_EQ(ueventValue(uevent, "HID_UNIQ"), "");       // present but empty
  EXPECT_EQ(ueventValue(uevent, "HID"), std::nullopt);  // a prefix of other keys
  EXPECT_EQ(ueventValue(uevent, "ID"), std::nullopt);   // a suffix of another key
  EXPECT_EQ(ueventValue("", "HID_ID"), std::nullopt);
  EXPECT_EQ(ueventValue("A=1\nA=2\n", "A"), "1");
}

TEST(Uevent, HidIdHasBusVendorAndProduct) {
  const auto id = parseHidId(*ueventValue(uevent, "HID_ID"));
  ASSERT_TRUE(id.has_value());
  EXPECT_EQ(id->bus, 0x0003);
  EXPECT_EQ(id->vendor, 0x05F3u);
  EXPECT_EQ(id->product, 0x00FFu);

  const auto bluetooth = parseHidId("0005:000005f3:000000ff");
  ASSERT_TRUE(bluetooth.has_value());
  EXPECT_EQ(bluetooth->bus, 0x0005);

  for (const std::string_view bad :
       {"", "0003", "0003:000005F3", "0003:000005F3:", ":000005F3:000000FF", "0003:5F3:FF:1",
        "00003:000005F3:000000FF", "0003:1000005F3:000000FF", "0003:-5F3:FF", "0003:0x5F3:FF",
        "0003:000005F3:000000FF\n", "0003:000005G3:000000FF"})
    EXPECT_EQ(parseHidId(bad).has_value(), false) << bad;
}

TEST(Uevent, InstanceNumberIsTheHexSuffixOfTheDeviceName) {
  EXPECT_EQ(hidInstance("0003:05F3:00FF.000A"), 10u);
  EXPECT_EQ(hidInstance("0005:05F3:00FF.0001"), 1u);
  EXPECT_EQ(hidInstance("0003:05F3:00FF.1000B"), 0x1000Bu);  // past four digits after long uptime
  EXPECT_EQ(hidInstance("0003:05F3:00FF.0000"), std::nullopt);  // never issued by the kernel
  for (const std::string_view bad :
       {"", "hidraw0", "0003:05F3:00FF", "0003:05F3:00FF.", "0003:05F3.000A", "0003:05F3:00FF.x",
        "input:05F3:00FF.000A", "0003:05F3:00FF.000A.1", "0003:05F3:00FF.11112222333344445"})
    EXPECT_EQ(hidInstance(bad), std::nullopt) << bad;
}

TEST(Uevent, TransportNamesTheBus) {
  EXPECT_EQ(transportName(0x03), "USB");
  EXPECT_EQ(transportName(0x05), "Bluetooth");
  EXPECT_EQ(transportName(0x18), "I2C");
  EXPECT_EQ(transportName(0x42), "bus 0x42");
}

TEST(Capabilities, WordsAreMostSignificantFirst) {
  // A mouse: BTN_LEFT (0x110) to BTN_TASK (0x117) in the fifth word, nothing below.
  const auto mouse = parseCapabilities("ff0000 0 0 0 0\n");
  ASSERT_TRUE(mouse.has_value());
  EXPECT_EQ(mouse->size(), 5u);
  EXPECT_TRUE(hasCapability(*mouse, 0x110));
  EXPECT_TRUE(hasCapability(*mouse, 0x117));
  EXPECT_FALSE(hasCapability(*mouse, 0x118));
  EXPECT_FALSE(hasCapability(*mouse, 0x10F));
  EXPECT_FALSE(hasCapability(*mouse, 0x2FF));  // beyond the words given

  // A keyboard's lowest word: KEY_ESC (1) to KEY_SPACE (57) and more.
  const auto keyboard = parseCapabilities("fffffffffffffffe");
  ASSERT_TRUE(keyboard.has_value());
  EXPECT_FALSE(hasCapability(*keyboard, 0));
  EXPECT_TRUE(hasCapability(*keyboard, 57));

  EXPECT_EQ(parseCapabilities("0"), std::vector<std::uint64_t>{0});
  for (const std::string_view bad : {"", "\n", " 1", "1 ", "1  1", "x", "1ffffffffffffffff"})
    EXPECT_EQ(parseCapabilities(bad), std::nullopt) << bad;
}

}  // namespace
