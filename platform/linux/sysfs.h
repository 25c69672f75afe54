#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace linuxplatform {

// Bus, vendor and product of a HID device, from the HID_ID line of its uevent file
// ("0003:000005F3:000000FF").
struct HidId {
  std::uint16_t bus = 0;
  std::uint32_t vendor = 0;
  std::uint32_t product = 0;
};

// The value of the first "KEY=value" line of a uevent text whose key is exactly `key`.
std::optional<std::string_view> ueventValue(std::string_view text, std::string_view key);

// Whether a HID device is the pedal the program seizes.
inline bool isPedal(const HidId& id) {
  return id.vendor == 0x05F3 && id.product == 0x00FF;
}

// Parses a HID_ID value: three colon-separated hexadecimal fields, bus of at most 4 digits,
// vendor and product of at most 8.
std::optional<HidId> parseHidId(std::string_view value);

// The kernel's instance number of a HID device, from its device name "BBBB:VVVV:PPPP.NNNN":
// the hexadecimal suffix after the dot, unique for the life of the boot and never 0.
std::optional<std::uint64_t> hidInstance(std::string_view name);

// A capability bitmap of an input device as sysfs shows it (capabilities/key, capabilities/rel):
// hexadecimal words of 64 bits, most significant first, separated by blanks. Returns the words
// least significant first, so bit n is word n / 64, bit n % 64.
std::optional<std::vector<std::uint64_t>> parseCapabilities(std::string_view text);
bool hasCapability(const std::vector<std::uint64_t>& words, unsigned bit);

// The name of a HID bus as the program shows transports: "USB" for the USB bus, "Bluetooth",
// "I2C" and so on; a bus without a name reads "bus 0x" and its number.
std::string transportName(std::uint16_t bus);

}  // namespace linuxplatform
