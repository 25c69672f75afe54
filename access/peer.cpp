#include "access/peer.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <charconv>
#include <optional>

#include "platform/linux/fd.h"

namespace helper {

namespace {

using linuxplatform::Fd;

constexpr std::size_t maxEnvironment = 4u << 20;
constexpr std::size_t maxMaps = 16u << 20;

// The whole file `name` of the entry; none when it cannot be read or is larger than `limit`.
std::optional<std::string> read(int proc, const char* name, std::size_t limit) {
  Fd fd(openat(proc, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (!fd)
    return std::nullopt;
  std::string text;
  char chunk[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
    if (n < 0)
      return std::nullopt;
    if (n == 0)
      return text;
    text.append(chunk, static_cast<std::size_t>(n));
    if (text.size() > limit)
      return std::nullopt;
  }
}

// Owned by root, and writable by no one else.
bool rootsAlone(const struct stat& info) {
  return info.st_uid == 0 && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool runs(int proc, const std::string& program) {
  char target[PATH_MAX];
  const ssize_t n = readlinkat(proc, "exe", target, sizeof target);
  // A program replaced since it started reads "... (deleted)": another file than the one there.
  if (n <= 0 || static_cast<std::size_t>(n) != program.size() ||
      program.compare(0, program.size(), target, static_cast<std::size_t>(n)) != 0)
    return false;
  struct stat running {};
  struct stat installed {};
  return fstatat(proc, "exe", &running, 0) == 0 && stat(program.c_str(), &installed) == 0 &&
         S_ISREG(installed.st_mode) && running.st_dev == installed.st_dev &&
         running.st_ino == installed.st_ino && rootsAlone(installed);
}

// The value of the "Name:\t..." line of a status text.
std::optional<std::string_view> field(std::string_view text, std::string_view name) {
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    const std::string_view line = text.substr(at, end - at);
    at = end + 1;
    if (line.size() > name.size() && line.starts_with(name) && line[name.size()] == ':')
      return line.substr(name.size() + 1);
  }
  return std::nullopt;
}

// The `index`th number of a whitespace-separated list.
std::optional<unsigned long> number(std::string_view list, int index) {
  for (int i = 0;; ++i) {
    const std::size_t start = list.find_first_not_of(" \t");
    if (start == std::string_view::npos)
      return std::nullopt;
    list.remove_prefix(start);
    const std::size_t end = std::min(list.find_first_of(" \t"), list.size());
    if (i == index) {
      unsigned long value = 0;
      const auto [stop, error] = std::from_chars(list.data(), list.data() + end, value);
      if (error != std::errc() || stop != list.data() + end)
        return std::nullopt;
      return value;
    }
    list.remove_prefix(end);
  }
}

// Every executable mapping of a file is of a file that root alone may change. Anonymous code and
// the kernel's own ([vdso]) are the process's own doing: no other process of the user can write
// into a non-dumpable process.
bool mapsOnlyRootsCode(int proc, std::string_view maps) {
  for (std::size_t at = 0; at < maps.size();) {
    const std::size_t end = std::min(maps.find('\n', at), maps.size());
    const std::string_view line = maps.substr(at, end - at);
    at = end + 1;
    // "start-end perms offset dev inode   path"
    const std::size_t range = line.find(' ');
    if (range == std::string_view::npos || line.size() < range + 4)
      return false;
    if (line[range + 3] != 'x')
      continue;
    const std::size_t path = line.find('/');
    if (path == std::string_view::npos)
      continue;
    // The file actually mapped, whatever its name now is.
    const std::string mapped = "map_files/" + std::string(line.substr(0, range));
    struct stat info {};
    if (fstatat(proc, mapped.c_str(), &info, 0) != 0 || !rootsAlone(info))
      return false;
  }
  return true;
}

}  // namespace

bool loadsCode(std::string_view name) {
  static constexpr std::array<std::string_view, 10> named = {
      "GCONV_PATH",
      "QT_PLUGIN_PATH",
      "QT_QPA_PLATFORM_PLUGIN_PATH",
      "GTK_MODULES",
      "GTK3_MODULES",
      "GTK_PATH",
      "GIO_EXTRA_MODULES",
      "GIO_MODULE_DIR",
      "GDK_PIXBUF_MODULEDIR",
      "GDK_PIXBUF_MODULE_FILE",
  };
  if (name.starts_with("LD_"))
    return true;
  for (const std::string_view entry : named)
    if (name == entry)
      return true;
  return false;
}

protocol::Status examine(int proc, const std::string& program) {
  using protocol::Status;
  if (!runs(proc, program))
    return Status::program;
  const auto status = read(proc, "status", 1u << 16);
  const auto tracer = status ? field(*status, "TracerPid") : std::nullopt;
  const auto ids = status ? field(*status, "Uid") : std::nullopt;
  const auto traced = tracer ? number(*tracer, 0) : std::nullopt;
  const auto euid = ids ? number(*ids, 1) : std::nullopt;
  if (!traced || !euid)
    return Status::failed;
  if (*traced != 0)
    return Status::traced;
  // The kernel gives a process's /proc files to root while it is not dumpable, and to its
  // effective user while it is.
  struct stat info {};
  if (fstatat(proc, "status", &info, 0) != 0)
    return Status::failed;
  if (*euid != 0 && info.st_uid == *euid)
    return Status::dumpable;
  const auto environment = read(proc, "environ", maxEnvironment);
  if (!environment)
    return Status::failed;
  for (std::size_t at = 0; at < environment->size();) {
    const std::size_t end = std::min(environment->find('\0', at), environment->size());
    const std::string_view entry = std::string_view(*environment).substr(at, end - at);
    at = end + 1;
    if (loadsCode(entry.substr(0, entry.find('='))))
      return Status::environment;
  }
  const auto maps = read(proc, "maps", maxMaps);
  if (!maps)
    return Status::failed;
  return mapsOnlyRootsCode(proc, *maps) ? Status::granted : Status::mapping;
}

}  // namespace helper
