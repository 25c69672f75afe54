// Decodes arbitrary bytes as the settings file and validates the result: only the JSON library's
// error or Failure may come out, and whatever decodes must survive an encode and decode unchanged.
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string_view>

#include "core/failure.h"
#include "core/settings.h"
#include "tests/fuzz/require.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  Settings settings;
  try {
    settings = decode(std::string_view(reinterpret_cast<const char*>(bytes), size));
  } catch (const nlohmann::json::exception&) {
    return 0;
  }
  const Settings again = decode(encode(settings));
  require(again == settings);

  bool valid = true;
  try {
    settings.validate();
  } catch (const Failure& failure) {
    require(failure.message() == "Invalid settings; no capture started.");
    valid = false;
  }
  if (valid)
    again.validate();
  return 0;
}
