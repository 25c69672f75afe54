#include "app/instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

std::filesystem::path runtimeFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/')
    return runtime;
  std::error_code error;
  return std::filesystem::temp_directory_path(error);
}

Instance::Instance(const std::filesystem::path& folder) {
  const std::string name = "quillfen-" + std::to_string(::getuid());
  path = folder / (name + ".socket");
  // Never through a link another user may have planted in a shared folder.
  fd = ::open((folder / (name + ".lock")).c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0)
    return;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    running = errno == EWOULDBLOCK;
    ::close(fd);
    fd = -1;
  }
}

Instance::~Instance() {
  if (fd >= 0)
    ::close(fd);
}
