// The helper's checks of a caller, on folders laid out as the kernel shows a process in /proc:
// its executable, status, environment and mappings. System files stand for root's; files of the
// test's own, opened to others, for anyone else's.

#include "access/peer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "../support/files.h"
#include "platform/linux/fd.h"

namespace {

namespace fs = std::filesystem;
using protocol::Status;

constexpr const char* program = "/usr/bin/true";  // root's, as an installed program is
constexpr const char* library = "/usr/bin/env";   // root's, standing for a shared library

class Peer : public testing::Test {
 public:
  void SetUp() override {
    root = scratchFolder("peer");
    ASSERT_FALSE(root.empty());
    if (!fs::exists(program) || !fs::exists(library))
      GTEST_SKIP() << "no " << program << " or " << library << " here";
    owner = geteuid();
  }
  void TearDown() override { fs::remove_all(root); }

  // A process of the user `owner`, not dumpable (its /proc files belong to someone else than its
  // effective user), running `program`, with a clean environment and root's code mapped.
  void lay(const fs::path& entry) {
    fs::create_directories(entry / "map_files");
    fs::create_symlink(program, entry / "exe");
    status(entry, owner == 0 ? 1000 : owner + 1, 0);
    put(entry / "environ", std::string("HOME=/home/u\0LANG=C.UTF-8\0OLD_LD=1\0", 34));
    maps(entry, {{"55d0a000-55d0b000", "r-xp", program, program},
                 {"7f000000-7f010000", "r-xp", library, library},
                 {"7f100000-7f110000", "rw-p", "/tmp/data", ""},
                 {"7f200000-7f210000", "rwxp", "", ""},
                 {"7ffd0000-7ffd2000", "r-xp", "[vdso]", ""}});
  }
  void status(const fs::path& entry, uid_t euid, int tracer) {
    put(entry / "status", "Name:\ttrue\nUmask:\t0022\nUid:\t" + std::to_string(euid) + "\t" +
                              std::to_string(euid) + "\t" + std::to_string(euid) + "\t" +
                              std::to_string(euid) + "\nTracerPid:\t" + std::to_string(tracer) +
                              "\n");
  }
  struct Mapping {
    std::string range, perms, path;
    fs::path file;  // what map_files/<range> links to; empty: no link
  };
  void maps(const fs::path& entry, const std::vector<Mapping>& mappings) {
    std::string text;
    for (const Mapping& mapping : mappings) {
      text += mapping.range + " " + mapping.perms + " 00000000 fd:01 1234   " + mapping.path + "\n";
      if (!mapping.file.empty())
        fs::create_symlink(mapping.file, entry / "map_files" / mapping.range);
    }
    put(entry / "maps", text);
  }
  // A file of the test's own, which someone other than root can change: writable by all, and
  // another user's where the test runs as root.
  fs::path foreign(const std::string& name, mode_t mode) {
    const fs::path file = root / name;
    put(file, "#!/bin/true\n");
    chmod(file.c_str(), mode);
    if (owner == 0) {
      EXPECT_EQ(chown(file.c_str(), 1000, 1000), 0);
    }
    return file;
  }

  Status examine(const fs::path& entry, const std::string& installed = program) {
    linuxplatform::Fd proc(open(entry.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return helper::examine(proc.get(), installed);
  }

  fs::path root;
  uid_t owner = 0;
};

TEST_F(Peer, OnlyTheInstalledProgramUntracedUndumpableAndClean) {
  struct Case {
    const char* name;
    std::function<void(Peer&, const fs::path&)> change;
    Status expected;
    std::string installed = program;
  };
  const std::vector<Case> cases = {
      {"the installed program as it should run", [](Peer&, const fs::path&) {}, Status::granted},
      {"another program", [](Peer&, const fs::path&) {}, Status::program, library},
      {"the program replaced since it started",
       [](Peer&, const fs::path& entry) {
         fs::remove(entry / "exe");
         fs::create_symlink(std::string(program) + " (deleted)", entry / "exe");
       },
       Status::program},
      {"an installed program its user can change",
       [](Peer& test, const fs::path& entry) {
         const fs::path copy = test.foreign("quillfen", 0755);
         fs::remove(entry / "exe");
         fs::create_symlink(copy, entry / "exe");
       },
       Status::program, ""},
      {"traced",
       [](Peer& test, const fs::path& entry) {
         test.status(entry, test.owner == 0 ? 1000 : test.owner + 1, 4242);
       },
       Status::traced},
      {"dumpable: its /proc files are its user's",
       [](Peer& test, const fs::path& entry) {
         uid_t euid = test.owner;
         if (euid == 0) {
           euid = 1000;
           EXPECT_EQ(chown((entry / "status").c_str(), euid, euid), 0);
         }
         test.status(entry, euid, 0);
       },
       Status::dumpable},
      {"LD_PRELOAD in its environment",
       [](Peer&, const fs::path& entry) {
         put(entry / "environ", std::string("LANG=C\0LD_PRELOAD=/tmp/x.so\0", 28));
       },
       Status::environment},
      {"a plugin path in its environment",
       [](Peer&, const fs::path& entry) {
         put(entry / "environ", std::string("QT_PLUGIN_PATH=/home/u/plugins", 30));
       },
       Status::environment},
      {"code from a file others can write",
       [](Peer& test, const fs::path& entry) {
         const fs::path file = test.foreign("injected.so", 0666);
         fs::remove_all(entry / "map_files");
         fs::create_directories(entry / "map_files");
         test.maps(entry, {{"55d0a000-55d0b000", "r-xp", program, program},
                           {"7f300000-7f310000", "r-xp", file.string() + " (deleted)", file}});
       },
       Status::mapping},
      {"code whose file cannot be looked at",
       [](Peer& test, const fs::path& entry) {
         fs::remove_all(entry / "map_files");
         fs::create_directories(entry / "map_files");
         test.maps(entry, {{"55d0a000-55d0b000", "r-xp", program, ""}});
       },
       Status::mapping},
      {"no status to read", [](Peer&, const fs::path& entry) { fs::remove(entry / "status"); },
       Status::failed},
      {"no environment to read",
       [](Peer&, const fs::path& entry) { fs::remove(entry / "environ"); }, Status::failed},
  };
  for (const Case& item : cases) {
    SCOPED_TRACE(item.name);
    const fs::path entry = root / "proc";
    fs::remove_all(entry);
    lay(entry);
    item.change(*this, entry);
    const std::string installed =
        item.installed.empty() ? fs::read_symlink(entry / "exe").string() : item.installed;
    EXPECT_EQ(examine(entry, installed), item.expected);
  }
}

TEST(Environment, LoaderAndPluginVariablesLoadCode) {
  for (const char* name :
       {"LD_PRELOAD", "LD_LIBRARY_PATH", "LD_AUDIT", "GCONV_PATH", "QT_PLUGIN_PATH",
        "QT_QPA_PLATFORM_PLUGIN_PATH", "GTK_MODULES", "GIO_EXTRA_MODULES"})
    EXPECT_TRUE(helper::loadsCode(name)) << name;
  for (const char* name : {"LANG", "HOME", "DISPLAY", "OLD_LD", "QT_QPA_PLATFORMTHEME", "PATH"})
    EXPECT_FALSE(helper::loadsCode(name)) << name;
}

}  // namespace
