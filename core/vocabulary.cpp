#include "core/vocabulary.h"

#include <algorithm>
#include <utility>

namespace {

constexpr std::array<std::pair<std::string_view, std::string_view>, 5> titles{{
    {"none", "No action"},
    {"scrollUp", "Scroll up"},
    {"scrollDown", "Scroll down"},
    {"space", "Space (application shortcut)"},
    {"enter", "Enter"},
}};

template <std::size_t N>
bool contains(const std::array<std::string_view, N>& list, std::string_view name) {
  return std::find(list.begin(), list.end(), name) != list.end();
}

}  // namespace

std::string actionTitle(std::string_view action) {
  for (const auto& [name, title] : titles) {
    if (name == action)
      return std::string(title);
  }
  // Only ASCII names reach this fallback, so a byte-wise upper-casing is enough.
  std::string upper(action);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

bool isControl(std::string_view name) {
  return contains(controls, name);
}
bool isAction(std::string_view name) {
  return contains(actions, name);
}
bool isScope(std::string_view name) {
  return contains(scopes, name);
}
