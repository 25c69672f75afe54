#include "app/rows.h"

#include <sys/utsname.h>

#include "core/vocabulary.h"

namespace {

std::string upper(std::string_view words) {
  std::string result(words);
  for (char& c : result) {
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 'a' + 'A');
  }
  return result;
}

const char* const recoveryRest =
    ", Stop capture, or quit. A five-second UI heartbeat loss stops capture. Lock/session and "
    "sleep notifications stop capture. Never automatically reconnect or activate. Permission "
    "changes require inspection again.";

std::string shortcuts(std::string_view events) {
  return "Space/Enter/F13\u2013F20 are application shortcuts; assign them in your player for "
         "play/pause or seeking. There is no universal rewind or media integration. Scroll uses " +
         std::string(events) + " line events; targeting follows OS scroll/focus behavior.";
}

Row control(Kind kind, std::string words = {}, int tag = 0) {
  Row row;
  row.kind = kind;
  row.text = std::move(words);
  row.tag = tag;
  return row;
}

Row text(std::string words, int size) {
  Row row = control(Kind::text, std::move(words));
  row.size = size;
  row.colour = size == 11 ? Colour::accent : Colour::text;
  return row;
}

Row button(std::string title, Action action) {
  Row row = control(Kind::button, std::move(title));
  const bool prominent = row.text == "Start isolated test" || row.text == "Activate actions";
  row.look = prominent ? Look::prominent : Look::tinted;
  row.action = action;
  return row;
}

}  // namespace

Wording macWording() {
  return {"Quillfen \u00b7 macOS developer preview", "MACOS \u00b7 ARM64 \u00b7 DEVELOPER PREVIEW",
          std::string("Recovery: Control + Option + Shift + F12") + recoveryRest,
          shortcuts("Quartz")};
}

Wording linuxWording(std::string_view machine) {
  return {"Quillfen \u00b7 Linux developer preview",
          "LINUX \u00b7 " + upper(machine) + " \u00b7 DEVELOPER PREVIEW",
          std::string("Recovery: Control + Alt + Shift + F12") + recoveryRest, shortcuts("wheel")};
}

Wording wording() {
#ifdef __APPLE__
  return macWording();
#else
  utsname system{};
  return linuxWording(uname(&system) == 0 ? system.machine : "unknown");
#endif
}

std::vector<Row> rows(const Wording& words, const std::string& settingsPath) {
  std::vector<Row> all{
      text("Your pedal. Across your computer.", 27),
      text(words.platform, 11),
      text("Independent of Chrome. Only one VEC 05f3:00ff HID service with the candidate two-byte "
           "report format is eligible. Physical compatibility is unverified. Quit other pedal "
           "readers first.",
           13),
      button("Permissions", Action::permissions),
      button("Inspect pedal", Action::inspect),
      control(Kind::status),
      control(Kind::review, "I reviewed recovery and understand exclusive pedal capture."),
      button("Start isolated test", Action::start),
      text("Learn each physical pedal by a complete press and release. Original outputs remain "
           "seized during learning and pause.",
           13),
  };
  for (std::size_t i = 0; i < controls.size(); ++i) {
    const std::string name(controls[i]);
    const int tag = static_cast<int>(i);
    all.push_back(text(upper(name.substr(0, 1)) + name.substr(1), 15));
    all.push_back(control(Kind::menu, {}, tag));
    // The learn buttons keep the toolkit's own look.
    Row learn = control(Kind::button, "Learn " + name, tag);
    learn.action = Action::learn;
    all.push_back(learn);
  }
  const std::vector<Row> rest{
      text("Optional 250 ms click guard", 13),
      control(Kind::scope),
      text("Starts at decoded pedal detection. Ordinary mouse clicks can also be blocked. Movement "
           "and wheel remain available. Existing drags can finish. A canceled down keeps its up "
           "canceled for up to 5 seconds. Events before detection/tap activation cannot be "
           "undone.",
           13),
      button("Save actions & guard", Action::save),
      control(Kind::verified,
              "I verified original outputs are absent and my ordinary mouse works."),
      button("Activate actions", Action::activate),
      button("Pause actions", Action::pause),
      button("Stop capture", Action::stop),
      text(words.recovery, 13),
      text(words.shortcuts, 13),
      text("Settings stay in " + settingsPath +
               ". No telemetry, network listener, shell mappings or global input history.",
           13),
      button("Setup & recovery guide", Action::guide),
  };
  all.insert(all.end(), rest.begin(), rest.end());
  return all;
}

std::string shortPath(const std::string& path, const std::string& home) {
  if (home.empty() || home == "/" || path.rfind(home + "/", 0) != 0)
    return path;
  return "~" + path.substr(home.size());
}
