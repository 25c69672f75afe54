#include "backend/keys.h"

#include <array>
#include <utility>

std::optional<std::uint16_t> keyCode(std::string_view action) {
  static constexpr std::array<std::pair<std::string_view, std::uint16_t>, 10> codes{{
      {"space", 49},
      {"enter", 36},
      {"f13", 105},
      {"f14", 107},
      {"f15", 113},
      {"f16", 106},
      {"f17", 64},
      {"f18", 79},
      {"f19", 80},
      {"f20", 90},
  }};
  for (const auto& [name, code] : codes) {
    if (name == action)
      return code;
  }
  return std::nullopt;
}
