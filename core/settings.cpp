#include "core/settings.h"

#include <limits>
#include <nlohmann/json.hpp>
#include <utility>

#include "core/failure.h"
#include "core/vocabulary.h"

namespace {

using nlohmann::json;

[[noreturn]] void malformed(const std::string& what) {
  throw json::type_error::create(302, "settings: " + what, nullptr);
}

const json& member(const json& object, const char* name) {
  auto found = object.find(name);
  if (found == object.end())
    malformed(std::string("missing member \"") + name + "\"");
  return *found;
}

std::int64_t integer(const json& value) {
  if (value.is_number_integer()) {
    if (value.is_number_unsigned() &&
        value.get<std::uint64_t>() >
            static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      malformed("\"version\" out of range");
    }
    return value.get<std::int64_t>();
  }
  malformed("\"version\" is not an integer");
}

}  // namespace

Settings::Mappings Settings::defaultMappings() {
  Mappings defaults;
  for (auto name : controls)
    defaults.emplace(name, "none");
  return defaults;
}

Settings::Settings(std::int64_t version, Mappings mappings, std::string guardScope)
    : version(version), mappings(std::move(mappings)), guardScope(std::move(guardScope)) {}

void Settings::validate() const {
  bool valid = version == 1 && mappings.size() == controls.size();
  for (auto name : controls) {
    if (!valid)
      break;
    auto found = mappings.find(std::string(name));
    valid = found != mappings.end() && isAction(found->second);
  }
  if (!valid || !isScope(guardScope)) {
    throw Failure::invalid("Invalid settings; no capture started.");
  }
}

std::string encode(const Settings& settings) {
  nlohmann::ordered_json mappings = nlohmann::ordered_json::object();
  for (const auto& [pedal, action] : settings.mappings)
    mappings[pedal] = action;
  nlohmann::ordered_json object;
  object["version"] = settings.version;
  object["mappings"] = std::move(mappings);
  object["guardScope"] = settings.guardScope;
  // Encoding never fails: a string that is not UTF-8 is written with replacement characters.
  return object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

Settings decode(std::string_view text) {
  // The JSON parser takes a NUL byte for the end of its input, so a record followed by a NUL and
  // anything else would decode. No JSON text holds a raw NUL: such a text is malformed, like any
  // other text with bytes after the object.
  if (text.find('\0') != std::string_view::npos)
    throw json::parse_error::create(101, text.find('\0'), "settings: a NUL byte in the text",
                                    nullptr);
  const json object = json::parse(text);
  if (!object.is_object())
    malformed("not a JSON object");

  const json& version = member(object, "version");
  const json& mappings = member(object, "mappings");
  const json& guardScope = member(object, "guardScope");
  if (!mappings.is_object())
    malformed("\"mappings\" is not an object");
  if (!guardScope.is_string())
    malformed("\"guardScope\" is not a string");

  Settings settings;
  settings.version = integer(version);
  settings.mappings.clear();
  for (const auto& [pedal, action] : mappings.items()) {
    if (!action.is_string())
      malformed("a mapping is not a string");
    settings.mappings.emplace(pedal, action.get<std::string>());
  }
  settings.guardScope = guardScope.get<std::string>();
  return settings;
}
