#pragma once

// A desktop of its own for the window tests: an X server (Xvfb) with a window manager (openbox), a
// session bus with the accessibility bus, and the program started on it as a person would.

#include <sys/types.h>

#include <QString>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

// The programs these tests need that are missing from this machine, by name; empty when all are
// there.
std::string missingTools();

// Runs the Qt event loop until `done` holds, at most `milliseconds`.
bool until(const std::function<bool()>& done, int milliseconds = 10000);

// A process of ours, ended with SIGTERM (SIGKILL after 3 s) when it goes out of scope.
class Child {
 public:
  Child() = default;
  Child(const std::vector<std::string>& argv, const std::vector<std::string>& env,
        const std::filesystem::path& output, int pipeTo = -1);
  Child(Child&& other) noexcept;
  Child& operator=(Child&& other) noexcept;
  ~Child();

  pid_t pid = -1;
  int pipe = -1;  // the read end of a pipe given to the child as descriptor `pipeTo`
  // Waits up to `milliseconds` for the child to end; its wait status, or -1 while it runs.
  int wait(int milliseconds);
  void end();

 private:
  int status = -1;
};

// One desktop: `width` by `height` pixels, its own runtime, configuration and home folders.
class Desk {
 public:
  Desk(int width, int height);
  ~Desk();

  bool ready() const { return !display.empty() && !busAddress.isEmpty(); }
  // The accessibility bus, once a screen reader's switch is on; empty when it could not start.
  QString accessibility();
  // Runs the program on this desktop with these extra variables ("NAME=value").
  Child program(const std::vector<std::string>& arguments = {},
                const std::vector<std::string>& extra = {});
  // Runs an X client of the desktop to its end and returns what it printed.
  std::string x(const std::vector<std::string>& argv);
  // Types keys (xdotool key names) into the focused window.
  void keys(const std::vector<std::string>& names);

  std::filesystem::path root;  // temporary folder with home/, config/, runtime/
  std::string display;         // ":N"
  QString busAddress;
  int width, height;

 private:
  std::vector<std::string> environment(const std::vector<std::string>& extra) const;
  Child server, manager, bus;
};
