// What the window's controls do, and how each status of the backend shows in the window.

#include <string>

#include "app/app.h"
#include "app/file.h"
#include "backend/backend.h"
#include "core/vocabulary.h"
#include "platform/platform.h"

#ifndef QUILLFEN_GUIDE
#define QUILLFEN_GUIDE ""
#endif

// Commands capture the backend by plain pointer: they run on the worker thread, which holds the
// backend while it runs, and a command that never runs must not keep the backend alive.

void App::run(Action action, int tag) {
  switch (action) {
    case Action::permissions:
      return permissions();
    case Action::inspect:
      return inspect();
    case Action::start:
      return start();
    case Action::learn:
      return learn(tag);
    case Action::save:
      return save();
    case Action::activate:
      return activate();
    case Action::pause:
      return pause();
    case Action::stop:
      return stop();
    case Action::guide:
      return guide();
    case Action::none:
      return;
  }
}

void App::permissions() {
  platform::requestListenEventAccess();
  platform::isProcessTrustedWithPrompt();
  // Where nothing can be granted from inside the program, the platform says what it can and
  // cannot have, and how to give it access.
  if (!toolkit.inform)
    return;
  if (const std::string found = platform::accessReport(); !found.empty())
    toolkit.inform("Permissions", found);
}

void App::inspect() {
  Backend* engine = backend.get();
  backend->send([engine] { engine->inspect(); });
}

void App::start() {
  const bool reviewed = review;
  verified = false;
  changed();
  Backend* engine = backend.get();
  backend->send([engine, reviewed] { engine->start(reviewed); });
}

void App::learn(int tag) {
  if (tag < 0 || tag >= static_cast<int>(controls.size()))
    return;
  const std::string name(controls[static_cast<std::size_t>(tag)]);
  Backend* engine = backend.get();
  backend->send([engine, name] { engine->learn(name); });
}

void App::save() {
  if (activated)
    return;
  verified = false;

  Settings chosen;
  try {
    // A pop-up without a selection (index -1) fails the lookup like an invalid record.
    for (std::size_t i = 0; i < controls.size(); ++i)
      chosen.mappings[std::string(controls[i])] =
          std::string(actions.at(static_cast<std::size_t>(menus.at(i))));
    chosen.guardScope = scopes.at(static_cast<std::size_t>(scope));
    chosen.validate();
    prepare(file.parent_path());
    store(file, encode(chosen));
  } catch (const std::exception&) {
    status = "Settings could not be saved. No activation requested.";
    changed();
    return;
  }
  settings = chosen;
  Backend* engine = backend.get();
  backend->send([engine, chosen] { engine->configure(chosen); });
  status = "Saved locally. Activation remains explicit.";
  changed();
}

void App::activate() {
  const bool confirmed = verified;
  Backend* engine = backend.get();
  backend->send([engine, confirmed] { engine->activate(confirmed); });
}

void App::pause() {
  Backend* engine = backend.get();
  backend->send([engine] { engine->pause(); });
}

void App::stop() {
  Backend* engine = backend.get();
  backend->send([engine] { engine->stop("Capture stopped. Original input restored."); });
}

void App::guide() {
  const std::filesystem::path found = guidePath(folder, QUILLFEN_GUIDE);
  if (!found.empty() && toolkit.open)
    toolkit.open(found);
}

std::filesystem::path guidePath(const std::filesystem::path& programFolder,
                                const std::filesystem::path& sourceCopy) {
  std::error_code error;
  for (const std::filesystem::path& candidate :
       {programFolder.parent_path() / "share" / "quillfen" / "README.md",
        programFolder.parent_path() / "Resources" / "README.md"}) {
    if (std::filesystem::is_regular_file(candidate, error))
      return candidate;
  }
  if (!sourceCopy.empty() && std::filesystem::is_regular_file(sourceCopy, error))
    return sourceCopy;
  return {};
}

void App::show(const std::string& message, bool captured, bool active) {
  status = message;
  capture = captured;
  // Napping would throttle the heartbeat timer past the backend's limit and delay the worker
  // that serves the mouse tap: while a pedal is captured, the program stays awake.
  stayAwake(captured);
  activated = active;
  for (auto& [title, enabled] : buttons) {
    if (title.starts_with("Learn") || title == "Activate actions")
      enabled = captured && !active;
    else if (title == "Pause actions")
      enabled = active;
    else if (title == "Stop capture")
      enabled = captured;
    else if (title == "Start isolated test" || title == "Inspect pedal")
      enabled = !captured;
    else if (title == "Save actions & guard")
      enabled = !active;
    else
      enabled = true;
  }
  if (!captured)
    verified = false;
  changed();
}

void App::stayAwake(bool on) {
  if (on == awake || terminated)
    return;
  awake = on;
  if (toolkit.awake)
    toolkit.awake(on);
}

bool App::enabled(const Row& row) const {
  switch (row.kind) {
    case Kind::button: {
      const auto found = buttons.find(row.text);
      return found != buttons.end() && found->second;
    }
    case Kind::menu:
    case Kind::scope:
      return !activated;
    default:
      return true;
  }
}
