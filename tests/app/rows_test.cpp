// The window's rows as data: order, texts, sizes, looks and what each control does.

#include "app/rows.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// One expected row: its kind, words, size and action; texts of 11 points are accent-coloured.
struct Expected {
  Kind kind;
  std::string text;
  int size = 0;
  Action action = Action::none;
  int tag = 0;
};

TEST(Rows, InOrderWithTheirTextsSizesLooksAndActions) {
  const Wording words{"title", "PLATFORM", "recovery note", "shortcut note"};
  const std::vector<Expected> expected{
      {Kind::text, "Your pedal. Across your computer.", 27},
      {Kind::text, "PLATFORM", 11},
      {Kind::text,
       "Independent of Chrome. Only one VEC 05f3:00ff HID service with the candidate two-byte "
       "report format is eligible. Physical compatibility is unverified. Quit other pedal "
       "readers first.",
       13},
      {Kind::button, "Permissions", 0, Action::permissions},
      {Kind::button, "Inspect pedal", 0, Action::inspect},
      {Kind::status, ""},
      {Kind::review, "I reviewed recovery and understand exclusive pedal capture."},
      {Kind::button, "Start isolated test", 0, Action::start},
      {Kind::text,
       "Learn each physical pedal by a complete press and release. Original outputs remain "
       "seized during learning and pause.",
       13},
      {Kind::text, "Left", 15},
      {Kind::menu, "", 0, Action::none, 0},
      {Kind::button, "Learn left", 0, Action::learn, 0},
      {Kind::text, "Middle", 15},
      {Kind::menu, "", 0, Action::none, 1},
      {Kind::button, "Learn middle", 0, Action::learn, 1},
      {Kind::text, "Right", 15},
      {Kind::menu, "", 0, Action::none, 2},
      {Kind::button, "Learn right", 0, Action::learn, 2},
      {Kind::text, "Optional 250 ms click guard", 13},
      {Kind::scope, ""},
      {Kind::text,
       "Starts at decoded pedal detection. Ordinary mouse clicks can also be blocked. Movement "
       "and wheel remain available. Existing drags can finish. A canceled down keeps its up "
       "canceled for up to 5 seconds. Events before detection/tap activation cannot be undone.",
       13},
      {Kind::button, "Save actions & guard", 0, Action::save},
      {Kind::verified, "I verified original outputs are absent and my ordinary mouse works."},
      {Kind::button, "Activate actions", 0, Action::activate},
      {Kind::button, "Pause actions", 0, Action::pause},
      {Kind::button, "Stop capture", 0, Action::stop},
      {Kind::text, "recovery note", 13},
      {Kind::text, "shortcut note", 13},
      {Kind::text,
       "Settings stay in ~/.config/Quillfen/settings.json. No telemetry, network listener, shell "
       "mappings or global input history.",
       13},
      {Kind::button, "Setup & recovery guide", 0, Action::guide},
  };

  const std::vector<Row> actual = rows(words, "~/.config/Quillfen/settings.json");
  ASSERT_EQ(actual.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE("row " + std::to_string(i + 1) + ": " + expected[i].text);
    const Row& row = actual[i];
    EXPECT_EQ(row.kind, expected[i].kind);
    EXPECT_EQ(row.text, expected[i].text);
    EXPECT_EQ(row.size, expected[i].size);
    EXPECT_EQ(row.action, expected[i].action);
    EXPECT_EQ(row.tag, expected[i].tag);
    if (row.kind == Kind::text) {
      EXPECT_EQ(row.colour, row.size == 11 ? Colour::accent : Colour::text);
    }
    // The two buttons of the main path are filled; the learn buttons keep the toolkit's look;
    // every other push button has an accent-coloured title.
    if (row.kind == Kind::button) {
      const Look look = row.text == "Start isolated test" || row.text == "Activate actions"
                            ? Look::prominent
                        : row.action == Action::learn ? Look::standard
                                                      : Look::tinted;
      EXPECT_EQ(row.look, look);
    }
  }
}

TEST(Rows, WordingOfEachPlatform) {
  const Wording mac = macWording();
  EXPECT_EQ(mac.title, "Quillfen \u00b7 macOS developer preview");
  EXPECT_EQ(mac.platform, "MACOS \u00b7 ARM64 \u00b7 DEVELOPER PREVIEW");
  EXPECT_EQ(mac.recovery,
            "Recovery: Control + Option + Shift + F12, Stop capture, or quit. A five-second UI "
            "heartbeat loss stops capture. Lock/session and sleep notifications stop capture. "
            "Never automatically reconnect or activate. Permission changes require inspection "
            "again.");
  EXPECT_EQ(mac.shortcuts,
            "Space/Enter/F13\u2013F20 are application shortcuts; assign them in your player for "
            "play/pause or seeking. There is no universal rewind or media integration. Scroll "
            "uses Quartz line events; targeting follows OS scroll/focus behavior.");

  const Wording linux = linuxWording("x86_64");
  EXPECT_EQ(linux.title, "Quillfen \u00b7 Linux developer preview");
  EXPECT_EQ(linux.platform, "LINUX \u00b7 X86_64 \u00b7 DEVELOPER PREVIEW");
  EXPECT_EQ(linux.recovery.substr(0, 48), "Recovery: Control + Alt + Shift + F12, Stop capt");
  EXPECT_EQ(linux.recovery.substr(37), mac.recovery.substr(40));
  EXPECT_NE(linux.shortcuts.find("Scroll uses wheel line events;"), std::string::npos);
}

TEST(Rows, SettingsPathIsShortenedToTheHomeFolder) {
  EXPECT_EQ(shortPath("/home/someone/.config/Quillfen/settings.json", "/home/someone"),
            "~/.config/Quillfen/settings.json");
  EXPECT_EQ(shortPath("/home/someoneelse/x.json", "/home/someone"), "/home/someoneelse/x.json");
  EXPECT_EQ(shortPath("/etc/x.json", "/"), "/etc/x.json");
  EXPECT_EQ(shortPath("/etc/x.json", ""), "/etc/x.json");
}

}  // namespace
