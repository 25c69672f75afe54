#include "core/settings.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "core/failure.h"
#include "core/vocabulary.h"

namespace {

bool valid(const Settings& settings) {
  try {
    settings.validate();
    return true;
  } catch (const Failure& error) {
    EXPECT_EQ(error.message(), "Invalid settings; no capture started.");
    return false;
  }
}

Settings mapped(const char* left, const char* middle, const char* right, const char* scope) {
  return Settings(1, {{"left", left}, {"middle", middle}, {"right", right}}, scope);
}

TEST(Vocabulary, TitlesComeFromTheTableOrUpperCase) {
  EXPECT_EQ(actionTitle("none"), "No action");
  EXPECT_EQ(actionTitle("space"), "Space (application shortcut)");
  EXPECT_EQ(actionTitle("scrollDown"), "Scroll down");
  EXPECT_EQ(actionTitle("f17"), "F17");
  EXPECT_EQ(actionTitle("abc"), "ABC");
  EXPECT_EQ(actionTitle(""), "");
  EXPECT_EQ(actionTitle("Space"), "SPACE") << "names are case-sensitive";
}

TEST(Settings, DefaultsAreValidAndMemberwiseDefaultsMatch) {
  const Settings defaults;
  EXPECT_EQ(defaults.version, 1);
  EXPECT_EQ(defaults.mappings, mapped("none", "none", "none", "off").mappings);
  EXPECT_EQ(defaults.guardScope, "off");
  EXPECT_TRUE(valid(defaults));
  EXPECT_EQ(Settings(1), defaults);
}

TEST(Settings, ValidationChecksVersionKeysActionsAndScope) {
  Settings settings;
  for (std::int64_t version : {0, 2, -1}) {
    settings.version = version;
    EXPECT_FALSE(valid(settings)) << version;
  }

  settings = Settings();
  settings.mappings.erase("right");
  EXPECT_FALSE(valid(settings)) << "missing pedal";
  settings = Settings();
  settings.mappings["pedal4"] = "none";
  EXPECT_FALSE(valid(settings)) << "extra pedal";
  settings = Settings(1, {{"Left", "none"}, {"middle", "none"}, {"right", "none"}});
  EXPECT_FALSE(valid(settings)) << "capitalised pedal";

  EXPECT_FALSE(valid(mapped("F13", "none", "none", "off"))) << "a title is not an action";
  EXPECT_FALSE(valid(mapped("none", "", "none", "off")));
  EXPECT_TRUE(valid(mapped("space", "space", "space", "off"))) << "duplicates are allowed";
  for (auto action : actions) {
    EXPECT_TRUE(valid(mapped(std::string(action).c_str(), "none", "none", "off"))) << action;
  }

  for (const char* scope : {"left", "ALL", "Off", ""}) {
    EXPECT_FALSE(valid(mapped("none", "none", "none", scope))) << scope;
  }
  for (auto scope : scopes) {
    EXPECT_TRUE(valid(mapped("none", "none", "none", std::string(scope).c_str()))) << scope;
  }
}

TEST(SettingsJson, EncodesCompactlyInMemberOrder) {
  EXPECT_EQ(encode(Settings()),
            R"({"version":1,"mappings":{"left":"none","middle":"none","right":"none"},)"
            R"("guardScope":"off"})");
  const Settings custom = mapped("f13", "scrollUp", "enter", "right");
  EXPECT_EQ(decode(encode(custom)), custom);
}

TEST(SettingsJson, DecodesAnyOrderIgnoresExtrasAndDoesNotValidate) {
  const Settings settings =
      decode(R"({"guardScope":"all","extra":[1,{"x":2}],"mappings":{"left":"F13","middle":"none"},)"
             R"("version":2})");
  EXPECT_EQ(settings.version, 2);
  EXPECT_EQ(settings.guardScope, "all");
  EXPECT_EQ(settings.mappings, (Settings::Mappings{{"left", "F13"}, {"middle", "none"}}));
  EXPECT_FALSE(valid(settings));
  EXPECT_EQ(encode(settings).find("extra"), std::string::npos);
}

TEST(SettingsJson, RefusesMissingMembersWrongTypesAndMalformedText) {
  using namespace std::string_literals;
  const std::string bad[] = {
      R"({"version":1,"mappings":{"left":"none","middle":"none","right":"none"}})",
      R"({"version":1,"guardScope":"off"})",
      R"({"mappings":{},"guardScope":"off"})",
      R"({"version":"1","mappings":{},"guardScope":"off"})",
      R"({"version":1.5,"mappings":{},"guardScope":"off"})",
      R"({"version":18446744073709551615,"mappings":{},"guardScope":"off"})",
      R"({"version":1,"mappings":[],"guardScope":"off"})",
      R"({"version":1,"mappings":{"left":3},"guardScope":"off"})",
      R"({"version":1,"mappings":{"left":null},"guardScope":"off"})",
      R"({"version":1,"mappings":{},"guardScope":null})",
      R"([1,2,3])",
      R"("text")",
      R"({"version":1,"mappings":{},"guardScope":"off"} trailing)",
      // A zero-filled tail, as a crash in the middle of a write leaves, or a NUL then garbage.
      R"({"version":1,"mappings":{},"guardScope":"off"})"
      "\0\0\0"s,
      R"({"version":1,"mappings":{},"guardScope":"off"})"
      "\0trailing"s,
      "",
      "{\"version\":1,\"mappings\":{},\"guardScope\":\"o\xff\"}",
  };
  for (const std::string& text : bad) {
    EXPECT_THROW(decode(text), nlohmann::json::exception) << text;
  }
  EXPECT_EQ(decode(R"({"version":-3,"mappings":{},"guardScope":""})").version, -3);
}

}  // namespace
