// The App's life: construction, the launch sequence, the startup check and the termination steps.

#include "app/app.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <thread>

#include "app/file.h"
#include "backend/backend.h"
#include "core/vocabulary.h"

namespace {

std::string home() {
  const char* value = std::getenv("HOME");
  return value != nullptr ? value : "";
}

std::map<std::string, bool> pushButtons(const std::vector<Row>& rows) {
  std::map<std::string, bool> titles;
  for (const Row& row : rows) {
    if (row.kind == Kind::button)
      titles.emplace(row.text, true);
  }
  return titles;
}

}  // namespace

App::App(std::vector<std::string> commandLine, std::filesystem::path programFolder)
    : backend(std::make_shared<Backend>()),
      file(location()),
      words(wording()),
      rows(::rows(words, shortPath(file.string(), home()))),
      buttons(pushButtons(rows)),
      arguments(std::move(commandLine)),
      folder(std::move(programFolder)) {
  select();
}

App::~App() {
  terminate();
  // Statuses still on their way hold the backend; once the App is gone they are dropped.
  backend->update = nullptr;
}

void App::launch() {
  if (launched)
    return;
  launched = true;

  // 1. The light look, whatever the desktop's theme.
  if (toolkit.look)
    toolkit.look();

  // 2. and 3. The settings, then the window that shows them.
  settings = load(file);
  select();
  toolkit.build();

  // 4. Statuses reach the status handler on the main thread.
  backend->dispatch = toolkit.dispatch;
  backend->update = [this](const std::string& message, bool captured, bool active,
                           const std::vector<std::string>&) { show(message, captured, active); };

  // 5. and 6. The first command hands the loaded settings over; then the worker starts. Commands
  // hold the backend by plain pointer: the worker thread holds it while they run, and a command
  // that never runs must not keep it alive.
  Backend* engine = backend.get();
  backend->send([engine, loaded = settings] { engine->configure(loaded); });
  backend->launch();

  // 7. Sleep, display sleep and a session switched away end capture. Observers may call from any
  // thread, and only queue a command.
  toolkit.observe([weak = std::weak_ptr<Backend>(backend)] {
    if (auto held = weak.lock()) {
      Backend* target = held.get();
      held->send([target] { target->stop("Session or sleep changed. Inspect again."); });
    }
  });

  // 8. The heartbeat: a main thread that cannot tick for five seconds ends capture.
  toolkit.every(1.0, [engine] { engine->ping(); });

  // 9. Nothing that needs a capture is possible yet.
  show(status, false, false);

  // 10. To the front.
  toolkit.raise();

  // 11. The scripted startup check.
  if (std::find(arguments.begin(), arguments.end(), "--ui-test") != arguments.end())
    toolkit.after(0.5, [this] { check(); });
}

void App::terminate() {
  if (terminated)
    return;
  // Capture ends here: the program may nap again, and no later status wakes it.
  stayAwake(false);
  terminated = true;
  if (launched && toolkit.cancel)
    toolkit.cancel();
  backend->close();
  // The worker takes its commands at least every 20 ms, so the final stop releases the pedal
  // during this wait.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

void App::check() {
  if (const char* path = std::getenv("QUILLFEN_MAC_UI_SCREENSHOT"); path != nullptr)
    toolkit.picture(path);
  std::cout << "PASS macOS GUI startup; capture inactive." << std::endl;
  toolkit.quit();
}

void App::select() {
  menus.clear();
  for (auto name : controls) {
    const auto mapped = settings.mappings.find(std::string(name));
    const auto at = mapped == settings.mappings.end()
                        ? actions.end()
                        : std::find(actions.begin(), actions.end(), mapped->second);
    menus.push_back(at == actions.end() ? 0 : static_cast<int>(at - actions.begin()));
  }
  const auto chosen = std::find(scopes.begin(), scopes.end(), settings.guardScope);
  scope = chosen == scopes.end() ? 0 : static_cast<int>(chosen - scopes.begin());
}

void App::changed() {
  if (toolkit.changed)
    toolkit.changed();
}
