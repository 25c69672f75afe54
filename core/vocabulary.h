#pragma once

#include <array>
#include <string>
#include <string_view>

// The three pedal names, in the order the decoder reports presses and the window lists rows.
inline constexpr std::array<std::string_view, 3> controls{"left", "middle", "right"};

// The thirteen action names, in menu order.
inline constexpr std::array<std::string_view, 13> actions{
    "none", "scrollUp", "scrollDown", "space", "enter", "f13", "f14",
    "f15",  "f16",      "f17",        "f18",   "f19",   "f20"};

// The click-guard scope names, in menu order.
inline constexpr std::array<std::string_view, 3> scopes{"off", "all", "right"};

// Display title of an action name; names outside the five-row table come back upper-cased.
std::string actionTitle(std::string_view action);

bool isControl(std::string_view name);
bool isAction(std::string_view name);
bool isScope(std::string_view name);
