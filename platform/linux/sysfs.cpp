#include "platform/linux/sysfs.h"

#include <charconv>
#include <cstdio>

namespace linuxplatform {

namespace {

// A whole field of 1 to `digits` hexadecimal digits.
template <typename T>
std::optional<T> hexField(std::string_view text, std::size_t digits) {
  if (text.empty() || text.size() > digits)
    return std::nullopt;
  T value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  if (error != std::errc() || end != text.data() + text.size())
    return std::nullopt;
  return value;
}

}  // namespace

std::optional<std::string_view> ueventValue(std::string_view text, std::string_view key) {
  while (!text.empty()) {
    const std::size_t newline = text.find('\n');
    const std::string_view line = text.substr(0, newline);
    text = newline == std::string_view::npos ? std::string_view() : text.substr(newline + 1);
    if (line.size() > key.size() && line.starts_with(key) && line[key.size()] == '=')
      return line.substr(key.size() + 1);
  }
  return std::nullopt;
}

std::optional<HidId> parseHidId(std::string_view value) {
  const std::size_t first = value.find(':');
  if (first == std::string_view::npos)
    return std::nullopt;
  const std::size_t second = value.find(':', first + 1);
  if (second == std::string_view::npos)
    return std::nullopt;
  const auto bus = hexField<std::uint16_t>(value.substr(0, first), 4);
  const auto vendor = hexField<std::uint32_t>(value.substr(first + 1, second - first - 1), 8);
  const auto product = hexField<std::uint32_t>(value.substr(second + 1), 8);
  if (!bus || !vendor || !product)
    return std::nullopt;
  return HidId{*bus, *vendor, *product};
}

std::optional<std::uint64_t> hidInstance(std::string_view name) {
  // Bus, vendor and product are each four hex digits or more; the instance follows the dot.
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos)
    return std::nullopt;
  const std::string_view prefix = name.substr(0, dot);
  const std::size_t first = prefix.find(':');
  const std::size_t second = first == std::string_view::npos ? first : prefix.find(':', first + 1);
  if (second == std::string_view::npos || !hexField<std::uint32_t>(prefix.substr(0, first), 8) ||
      !hexField<std::uint32_t>(prefix.substr(first + 1, second - first - 1), 8) ||
      !hexField<std::uint32_t>(prefix.substr(second + 1), 8))
    return std::nullopt;
  const auto instance = hexField<std::uint64_t>(name.substr(dot + 1), 16);
  if (!instance || *instance == 0)
    return std::nullopt;
  return instance;
}

std::optional<std::vector<std::uint64_t>> parseCapabilities(std::string_view text) {
  while (!text.empty() && (text.back() == '\n'))
    text.remove_suffix(1);
  // Far more words than any code range of the kernel (KEY_MAX is 0x2ff: 12 words).
  constexpr std::size_t maxWords = 64;
  std::vector<std::uint64_t> words;
  while (!text.empty()) {
    const std::size_t blank = text.find(' ');
    const auto word = hexField<std::uint64_t>(text.substr(0, blank), 16);
    if (!word || words.size() == maxWords)
      return std::nullopt;
    words.push_back(*word);
    if (blank == std::string_view::npos)
      break;
    text = text.substr(blank + 1);
    if (text.empty())
      return std::nullopt;  // a trailing blank
  }
  if (words.empty())
    return std::nullopt;
  return std::vector<std::uint64_t>(words.rbegin(), words.rend());
}

bool hasCapability(const std::vector<std::uint64_t>& words, unsigned bit) {
  return bit / 64 < words.size() && (words[bit / 64] >> (bit % 64) & 1) != 0;
}

std::string transportName(std::uint16_t bus) {
  switch (bus) {
    case 0x01:
      return "PCI";
    case 0x03:
      return "USB";
    case 0x05:
      return "Bluetooth";
    case 0x06:
      return "Virtual";
    case 0x18:
      return "I2C";
    case 0x19:
      return "Host";
    case 0x1C:
      return "SPI";
    default:
      break;
  }
  char text[16];
  std::snprintf(text, sizeof text, "bus 0x%02X", static_cast<unsigned>(bus));
  return text;
}

}  // namespace linuxplatform
