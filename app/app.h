#pragma once

// The window's logic without a toolkit: the App owns the capture backend, keeps the state every
// control shows, runs the handlers of the controls and the status handler, keeps the settings
// file, and runs the launch and termination sequences. A front end (Qt on Linux, AppKit on
// macOS) makes widgets from `rows`, forwards clicks, check-box and pop-up changes to the App,
// shows its state whenever `changed` is called, and supplies the toolkit's services in `Toolkit`.

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/rows.h"
#include "core/settings.h"

class Backend;

// What the front end's toolkit does for the App. Every function is called on the main thread,
// except `dispatch`, which any thread may call.
struct Toolkit {
  using Task = std::function<void()>;

  Task look;                                // force the light appearance
  Task build;                               // make the window's widgets from `rows`
  Task changed;                             // show the App's state in the widgets
  std::function<void(Task)> dispatch;       // run a task on the main thread, in order
  std::function<void(Task)> observe;        // call a task on sleep or session change
  std::function<void(double, Task)> every;  // start the repeating heartbeat timer
  Task cancel;                              // stop the heartbeat timer for good
  Task raise;                               // bring the window to the front, key
  std::function<void(double, Task)> after;  // run a task once, seconds from now
  std::function<bool(const std::filesystem::path&)> open;  // open a document; false if not
  std::function<void(const std::string&)> picture;         // write the window's PNG picture there
  Task quit;                                               // end the application (runs `terminate`)
  // Show a text in a small window of its own, under a title; may be empty where the platform
  // has nothing to explain (the Permissions button's findings on Linux).
  std::function<void(const std::string& title, const std::string& text)> inform;
  // Keep the program out of the system's idle throttling (App Nap on macOS) while true: the
  // heartbeat and the worker must keep time while a pedal is captured. May be empty where
  // nothing naps (Linux).
  std::function<void(bool)> awake;
};

class App {
 public:
  static constexpr const char* idle = "Inspect your pedal to begin. No input is captured.";

  // `arguments`: the command line, program path included. `folder`: the folder of the program's
  // executable, where the guide is looked for.
  App(std::vector<std::string> arguments, std::filesystem::path folder);
  ~App();
  App(const App&) = delete;
  App& operator=(const App&) = delete;

  // The launch sequence, once, on the main thread, with `toolkit` filled in. Throws
  // std::system_error when the worker thread cannot be started; nothing is captured then, and the
  // front end ends the program.
  void launch();
  // The termination steps, once: heartbeat off, backend closed, a 0.1-second wait in which the
  // worker's final stop releases the pedal. Every way out of the program runs them.
  void terminate();

  // ---- the controls' handlers, on the main thread (handlers.cpp)
  void run(Action action, int tag = 0);  // the handler of a button's row
  void permissions();
  void inspect();
  void start();
  void learn(int tag);
  void save();
  void activate();
  void pause();
  void stop();
  void guide();
  // The status handler: shows `message` and decides every control's enabled state.
  void show(const std::string& message, bool captured, bool active);
  // Whether the control of `row` can be used now.
  bool enabled(const Row& row) const;

  // Sleep, display sleep or the session switched away: capture ends. Any thread.
  void suspend();
  // The "--ui-test" startup check: the picture, the PASS line, quit.
  void check();

  Toolkit toolkit;
  std::shared_ptr<Backend> backend;
  const std::filesystem::path file;  // the settings file
  const Wording words;               // this system's wording: the title among them
  const std::vector<Row> rows;       // the window's rows, in order
  Settings settings;                 // the record in force in the window

  // What the controls show. The front end writes `menus`, `scope`, `review` and `verified` when
  // the user changes them; the App writes everything and then calls `toolkit.changed`.
  std::string status = idle;
  std::vector<int> menus;  // selected item of each mapping pop-up, in `controls` order; -1: none
  int scope = 0;           // selected item of the guard-scope pop-up; -1: none
  bool review = false;
  bool verified = false;
  std::map<std::string, bool> buttons;  // every push button's title and whether it is enabled

  // The capture and activation state of the backend's last status.
  bool capture = false;
  bool activated = false;

 private:
  void select();  // the pop-ups show `settings`
  void changed();
  void stayAwake(bool on);  // asks `toolkit.awake` on a change, never after termination

  std::vector<std::string> arguments;
  std::filesystem::path folder;
  bool launched = false;
  bool terminated = false;
  bool awake = false;  // the toolkit keeps the program awake
};

// The guide document: share/quillfen/README.md beside the installed program in `programFolder`
// (its bin/ folder), or Resources/README.md of the application bundle on macOS (the program is in
// Contents/MacOS), else `sourceCopy` (the source tree's, for a program run from the build tree);
// empty when none exists.
std::filesystem::path guidePath(const std::filesystem::path& programFolder,
                                const std::filesystem::path& sourceCopy);

// The front end's entry: runs the window application until it quits and returns the exit status.
int runWindow(int argc, char** argv);
