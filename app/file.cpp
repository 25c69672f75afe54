#include "app/file.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <exception>
#include <random>
#include <string>
#include <system_error>
#include <vector>

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

constexpr mode_t folderMode = 0700;
constexpr mode_t fileMode = 0600;

// The temporary files of a save are named after the settings file, a dot and six letters or
// digits (mkstemp's pattern).
bool temporaryOf(std::string_view entry, std::string_view name) {
  if (entry.size() != name.size() + 7 || !entry.starts_with(name) || entry[name.size()] != '.')
    return false;
  for (const char c : entry.substr(name.size() + 1))
    if (!std::isalnum(static_cast<unsigned char>(c)))
      return false;
  return true;
}

// Removes the temporary files that saves killed before their rename left in the folder: regular
// files of this user with a temporary name of the settings file.
void removeStale(int directory, std::string_view name) {
  const int listed = ::dup(directory);
  if (listed < 0)
    return;
  DIR* entries = ::fdopendir(listed);
  if (entries == nullptr) {
    ::close(listed);
    return;
  }
  while (const dirent* entry = ::readdir(entries)) {
    struct stat info {};
    if (temporaryOf(entry->d_name, name) &&
        ::fstatat(directory, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(info.st_mode) && info.st_uid == ::geteuid())
      ::unlinkat(directory, entry->d_name, 0);
  }
  ::closedir(entries);
}

// A new file without a name in the folder, or -1 where the system cannot make one.
int anonymous(int directory) {
#if defined(__linux__) && defined(O_TMPFILE)
  // The file gets its name through /proc, so without /proc it could never be named.
  if (::access("/proc/self/fd", X_OK) != 0)
    return -1;
  return ::openat(directory, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, fileMode);
#else
  (void)directory;
  return -1;
#endif
}

// Gives the anonymous file `fd` a new temporary name of `name` in the folder; false when it
// cannot.
bool link(int fd, int directory, std::string_view name, std::string& temporary) {
#if defined(__linux__)
  static constexpr char letters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device random;
  const std::string source = "/proc/self/fd/" + std::to_string(fd);
  for (int attempt = 0; attempt < 100; ++attempt) {
    temporary = std::string(name) + ".";
    for (int i = 0; i < 6; ++i)
      temporary += letters[random() % (sizeof letters - 1)];
    if (::linkat(AT_FDCWD, source.c_str(), directory, temporary.c_str(), AT_SYMLINK_FOLLOW) == 0)
      return true;
    if (errno != EEXIST)
      break;
  }
#else
  (void)fd;
  (void)directory;
  (void)name;
#endif
  temporary.clear();
  return false;
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
  // Each missing folder, from the outermost down, is made private to the user whatever the
  // umask: whoever can write in it can change what the pedal types. Folders that exist already
  // are left as they are.
  std::vector<std::filesystem::path> missing;
  std::error_code error;
  for (std::filesystem::path at = folder; !at.empty() && !std::filesystem::exists(at, error);
       at = at.parent_path()) {
    missing.push_back(at);
    if (at == at.parent_path())
      break;
  }
  for (auto made = missing.rbegin(); made != missing.rend(); ++made) {
    if (::mkdir(made->c_str(), folderMode) != 0 && errno != EEXIST)
      refuse();
    ::chmod(made->c_str(), folderMode);
  }
  if (!std::filesystem::is_directory(folder, error))
    refuse();
}

void store(const std::filesystem::path& file, std::string_view bytes) {
  const std::filesystem::path folder = file.parent_path();
  const std::string name = file.filename().string();
  const Descriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory.fd < 0)
    refuse();
  removeStale(directory.fd, name);

  // The bytes go to a file without a name, which a kill leaves nowhere; it gets its temporary
  // name only once it is complete and on the disk, just before it replaces the settings file.
  // Where the system cannot make or name such a file, a named temporary file takes its place
  // from the start.
  const auto complete = [&bytes](int fd) {
    return ::fchmod(fd, fileMode) == 0 && writeAll(fd, bytes) && ::fsync(fd) == 0;
  };
  std::string temporary;
  bool written = false;
  if (const Descriptor unnamed(anonymous(directory.fd)); unnamed.fd >= 0)
    written = complete(unnamed.fd) && link(unnamed.fd, directory.fd, name, temporary);
  if (!written) {
    std::string pattern = (folder / (name + ".XXXXXX")).string();
    const Descriptor named(::mkostemp(pattern.data(), O_CLOEXEC));
    if (named.fd < 0)
      refuse();
    temporary = pattern.substr(pattern.size() - name.size() - 7);
    written = complete(named.fd);
  }
  written = written && ::renameat(directory.fd, temporary.c_str(), directory.fd, name.c_str()) == 0;
  if (!written) {
    ::unlinkat(directory.fd, temporary.c_str(), 0);
    refuse();
  }

  // The rename is durable only once the folder's entry is on the disk too. The new content is in
  // place by now, so a folder that cannot be flushed does not make the save a failure.
  ::fsync(directory.fd);
}
