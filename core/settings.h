#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

// The persisted settings record: the action of each pedal and the click-guard scope.
struct Settings {
  using Mappings = std::map<std::string, std::string>;

  static Mappings defaultMappings();

  std::int64_t version = 1;
  Mappings mappings = defaultMappings();
  std::string guardScope = "off";

  Settings() = default;
  Settings(std::int64_t version, Mappings mappings = defaultMappings(),
           std::string guardScope = "off");

  // Throws Failure::invalid("Invalid settings; no capture started.") unless the version is 1,
  // the mappings cover exactly the three pedals with known action names, and the scope is known.
  void validate() const;

  bool operator==(const Settings&) const = default;
};

// Compact JSON with the members in the order version, mappings, guardScope.
std::string encode(const Settings& settings);

// Reads the JSON form. All three members must be present with the right JSON types; other members
// are ignored; values are not validated. Malformed input throws the JSON library's error
// (nlohmann::json::exception), never a partial record.
Settings decode(std::string_view json);
