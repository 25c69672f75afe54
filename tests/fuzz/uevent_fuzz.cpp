// Feeds arbitrary text to the parsers of uevent files and HID device names, and checks that what
// they return is taken from the text and survives being written back in the kernel's format.
// The same text goes to the parser of capability bitmaps.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/linux/sysfs.h"
#include "tests/fuzz/require.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(bytes), size);
  using namespace linuxplatform;

  for (const std::string_view key : {"HID_ID", "HID_NAME", "A"}) {
    const auto value = ueventValue(text, key);
    if (!value)
      continue;
    require(value->find('\n') == std::string_view::npos);
    require(value->data() >= text.data() && value->data() + value->size() <= text.data() + size);
    require(std::string_view(value->data() - key.size() - 1, key.size()) == key);
  }

  if (const auto id = parseHidId(text)) {
    char written[32];
    std::snprintf(written, sizeof written, "%04X:%08X:%08X", static_cast<unsigned>(id->bus),
                  static_cast<unsigned>(id->vendor), static_cast<unsigned>(id->product));
    const auto again = parseHidId(written);
    require(again && again->bus == id->bus && again->vendor == id->vendor &&
            again->product == id->product);
  }

  if (const auto instance = hidInstance(text)) {
    require(*instance != 0);
    char written[48];
    std::snprintf(written, sizeof written, "0003:05F3:00FF.%04llX",
                  static_cast<unsigned long long>(*instance));
    require(hidInstance(written) == instance);
  }
  if (const auto words = parseCapabilities(text)) {
    require(!words->empty() && words->size() <= 64);
    std::string written;
    for (auto word = words->rbegin(); word != words->rend(); ++word) {
      char hex[24];
      std::snprintf(hex, sizeof hex, "%s%llx", written.empty() ? "" : " ",
                    static_cast<unsigned long long>(*word));
      written += hex;
    }
    require(parseCapabilities(written) == words);
  }
  return 0;
}
