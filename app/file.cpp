#include "app/file.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <exception>
#include <string>
#include <system_error>

#include "core/failure.h"

namespace {

std::filesystem::path home() {
  const char* value = std::getenv("HOME");
  if (value != nullptr && value[0] != '\0')
    return value;
  if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr)
    return entry->pw_dir;
  return "/";
}

// Closes a descriptor when it goes out of scope.
struct Descriptor {
  int fd = -1;
  explicit Descriptor(int value) : fd(value) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd >= 0)
      ::close(fd);
  }
};

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR)
      continue;
    if (written <= 0)
      return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

[[noreturn]] void refuse() {
  throw Failure::invalid("Settings file not written.");
}

}  // namespace

std::filesystem::path location() {
#ifdef __APPLE__
  return home() / "Library" / "Application Support" / "Quillfen" / "settings.json";
#else
  std::filesystem::path base;
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && config[0] == '/')
    base = config;
  else
    base = home() / ".config";
  return base / "Quillfen" / "settings.json";
#endif
}

Settings load(const std::filesystem::path& file) {
  // Non-blocking, so a pipe without a writer reads as empty instead of hanging the launch.
  const Descriptor input(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (input.fd < 0)
    return Settings();

  std::string bytes(fileLimit + 1, '\0');
  std::size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = ::read(input.fd, bytes.data() + got, bytes.size() - got);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0)
      return Settings();
    if (n == 0)
      break;
    got += static_cast<std::size_t>(n);
  }
  if (got > fileLimit)
    return Settings();
  bytes.resize(got);

  try {
    Settings settings = decode(bytes);
    settings.validate();
    return settings;
  } catch (const std::exception&) {
    return Settings();
  }
}

void prepare(const std::filesystem::path& folder) {
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error || !std::filesystem::is_directory(folder, error))
    refuse();
}

void store(const std::filesystem::path& file, std::string_view bytes) {
  const std::filesystem::path folder = file.parent_path();
  std::string pattern = (folder / (file.filename().string() + ".XXXXXX")).string();
  const Descriptor output(::mkostemp(pattern.data(), O_CLOEXEC));
  if (output.fd < 0)
    refuse();

  const bool written = ::fchmod(output.fd, 0644) == 0 && writeAll(output.fd, bytes) &&
                       ::fsync(output.fd) == 0 && ::rename(pattern.c_str(), file.c_str()) == 0;
  if (!written) {
    ::unlink(pattern.c_str());
    refuse();
  }

  // The rename is durable only once the folder's entry is on the disk too. The new content is in
  // place by now, so a folder that cannot be flushed does not make the save a failure.
  const Descriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory.fd >= 0)
    ::fsync(directory.fd);
}
