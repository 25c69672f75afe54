#pragma once

// What the window shows, from the top down, as data. Both front ends make their widgets from these
// rows, so a row, a text or a look is written once.

#include <array>
#include <string>
#include <string_view>
#include <vector>

enum class Kind {
  text,      // a wrapping label of `size` points in `colour`
  button,    // a push button titled `text` that runs `action`
  status,    // the status line
  review,    // the check box "I reviewed recovery ..."
  verified,  // the check box "I verified original outputs ..."
  menu,      // the mapping pop-up of the pedal with index `tag`
  scope      // the guard-scope pop-up
};
enum class Colour { standard, text, accent };
enum class Look {
  standard,  // the toolkit's own button, as the learn buttons have
  tinted,    // accent-coloured title
  prominent  // filled with the accent colour, white title
};
enum class Action { none, permissions, inspect, start, learn, save, activate, pause, stop, guide };

struct Row {
  Kind kind = Kind::text;
  std::string text;  // the words of a text, the title of a button or check box
  int size = 0;      // points, for texts; 0 for the toolkit's default
  Colour colour = Colour::standard;
  Look look = Look::standard;
  Action action = Action::none;
  int tag = 0;  // learn buttons and mapping pop-ups: the pedal's index in `controls`

  bool operator==(const Row&) const = default;
};

// Words that differ between the platforms.
struct Wording {
  std::string title;      // the window's title
  std::string platform;   // the 11-point line under the heading
  std::string recovery;   // the recovery note, naming the chord's keys
  std::string shortcuts;  // the shortcut note, naming the kind of scroll events
};
Wording macWording();
// `machine` is the processor architecture as the system names it ("x86_64", "aarch64").
Wording linuxWording(std::string_view machine);
// This system's wording.
Wording wording();

// The rows in order. `settingsPath` is the settings file as the user knows it (see `shortPath`).
std::vector<Row> rows(const Wording& words, const std::string& settingsPath);

// The settings file's path with the home folder written as "~".
std::string shortPath(const std::string& path, const std::string& home);

// Items of the guard-scope pop-up, in the order of `scopes`.
inline constexpr std::array<std::string_view, 3> scopeTitles{
    "Off (default)", "All mouse buttons: left, middle, right & additional", "Right-click only"};

// The window's geometry, in points.
inline constexpr int windowWidth = 800;
inline constexpr int windowHeight = 820;
inline constexpr int minimumWidth = 720;
inline constexpr int minimumHeight = 500;
inline constexpr int spacing = 16;  // between rows
inline constexpr int inset = 24;    // around the column, on every side

// Colours, as red, green and blue from 0 to 1.
struct Rgb {
  double red, green, blue;
};
inline constexpr Rgb windowColour{0.94, 0.93, 0.91};
inline constexpr Rgb columnColour{0.98, 0.98, 0.96};
inline constexpr Rgb textColour{0.2, 0.22, 0.19};
inline constexpr Rgb accentColour{0.78, 0.28, 0.04};
