#pragma once

// One window per user: a lock on a file in the user's runtime folder, held for the life of the
// process. A second start finds it taken and hands over to the running window instead of opening
// a second one that would compete for the pedal.

#include <filesystem>

// The user's runtime folder: XDG_RUNTIME_DIR when it is an absolute path, otherwise the system's
// temporary folder.
std::filesystem::path runtimeFolder();

class Instance {
 public:
  // Takes the lock "quillfen-<uid>.lock" in `folder`. A lock file that cannot be made or locked
  // for another reason than a running instance counts as no instance running.
  explicit Instance(const std::filesystem::path& folder);
  ~Instance();
  Instance(const Instance&) = delete;
  Instance& operator=(const Instance&) = delete;

  // Whether this process is the only one: it holds the lock.
  bool first() const { return !running; }
  // Where the first instance listens for the others' requests to show its window.
  const std::filesystem::path& socket() const { return path; }

 private:
  int fd = -1;
  bool running = false;
  std::filesystem::path path;
};
