#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// The virtual key code posted for a key action ("space", "enter", "f13" to "f20"); none for any
// other name.
std::optional<std::uint16_t> keyCode(std::string_view action);
