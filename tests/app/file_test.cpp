#include "app/file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "../support/files.h"
#include "core/failure.h"

namespace {

namespace fs = std::filesystem;

const std::string valid =
    R"({"version":1,"mappings":{"left":"f13","middle":"space","right":"scrollDown"},)"
    R"("guardScope":"right"})";

Settings expected() {
  return Settings(1, {{"left", "f13"}, {"middle", "space"}, {"right", "scrollDown"}}, "right");
}

// A fresh folder per test, removed afterwards.
class FileTest : public testing::Test {
 protected:
  void SetUp() override {
    root = scratchFolder("file");
    ASSERT_FALSE(root.empty());
  }
  void TearDown() override { fs::remove_all(root); }

  // Every entry of the folder, to catch leftover temporary files.
  std::vector<std::string> entries(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
      names.push_back(entry.path().filename().string());
    return names;
  }

  fs::path root;
};

// Sets an environment variable for one test and restores it afterwards.
struct Variable {
  std::string name;
  std::optional<std::string> saved;
  Variable(std::string variable, const char* value) : name(std::move(variable)) {
    if (const char* old = getenv(name.c_str()))
      saved = old;
    if (value)
      setenv(name.c_str(), value, 1);
    else
      unsetenv(name.c_str());
  }
  ~Variable() {
    if (saved)
      setenv(name.c_str(), saved->c_str(), 1);
    else
      unsetenv(name.c_str());
  }
};

#ifdef __APPLE__
TEST_F(FileTest, LocationIsInApplicationSupport) {
  const Variable home("HOME", "/Users/someone");
  const Variable config("XDG_CONFIG_HOME", "/elsewhere/config");
  EXPECT_EQ(location(),
            fs::path("/Users/someone/Library/Application Support/Quillfen/settings.json"));
}
#else
TEST_F(FileTest, LocationFollowsXdgConfigHomeOrFallsBackToHome) {
  const Variable home("HOME", "/home/someone");
  {
    const Variable config("XDG_CONFIG_HOME", "/elsewhere/config");
    EXPECT_EQ(location(), fs::path("/elsewhere/config/Quillfen/settings.json"));
  }
  for (const char* ignored : {static_cast<const char*>(nullptr), "", "relative/config"}) {
    const Variable config("XDG_CONFIG_HOME", ignored);
    EXPECT_EQ(location(), fs::path("/home/someone/.config/Quillfen/settings.json"))
        << (ignored ? ignored : "unset");
  }
}
#endif

TEST_F(FileTest, LoadGivesDefaultsForAnythingButAValidRecord) {
  const fs::path file = root / "Quillfen" / "settings.json";
  EXPECT_EQ(load(file), Settings());
  EXPECT_FALSE(fs::exists(root / "Quillfen")) << "loading never creates the folder";

  put(file, valid);
  EXPECT_EQ(load(file), expected());

  const std::string extra =
      R"({"extra":{"x":[1]},"version":1,"mappings":{"left":"f13","middle":"space",)"
      R"("right":"scrollDown"},"guardScope":"right"})";
  put(file, extra);
  EXPECT_EQ(load(file), expected()) << "extra members are ignored";

  for (const std::string& bad : {
           std::string(R"({"version":2,"mappings":{"left":"f13","middle":"space",)"
                       R"("right":"scrollDown"},"guardScope":"right"})"),
           std::string(R"({"version":1,"mappings":{"left":"F13","middle":"space",)"
                       R"("right":"scrollDown"},"guardScope":"right"})"),
           std::string(R"({"version":1,"mappings":{"left":"f13"},"guardScope":"right"})"),
           valid.substr(0, valid.size() - 1),
           valid + std::string(64, '\0'),  // the zero-filled tail a crash can leave
           std::string(),
       }) {
    put(file, bad);
    EXPECT_EQ(load(file), Settings()) << bad;
    EXPECT_EQ(contents(file), bad) << "loading never changes the file";
  }

  fs::remove(file);
  fs::create_directory(file);
  EXPECT_EQ(load(file), Settings()) << "a folder in the file's place";
}

TEST_F(FileTest, LoadReadsUpTo8192BytesAndIgnoresLongerFiles) {
  const fs::path file = root / "settings.json";
  put(file, valid + std::string(fileLimit - valid.size(), ' '));
  ASSERT_EQ(fs::file_size(file), 8192u);
  EXPECT_EQ(load(file), expected());

  put(file, valid + std::string(fileLimit + 1 - valid.size(), ' '));
  ASSERT_EQ(fs::file_size(file), 8193u);
  EXPECT_EQ(load(file), Settings());

  put(file, valid + std::string(1 << 20, ' '));
  EXPECT_EQ(load(file), Settings()) << "a huge file";
}

TEST_F(FileTest, LoadDoesNotHangOnEndlessSources) {
  const fs::path zero = root / "zero.json";
  fs::create_symlink("/dev/zero", zero);
  EXPECT_EQ(load(zero), Settings());

  const fs::path pipe = root / "pipe.json";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  EXPECT_EQ(load(pipe), Settings()) << "a pipe without a writer";
}

// Sets the process's umask for one test and restores it afterwards.
struct Umask {
  mode_t saved;
  explicit Umask(mode_t mask) : saved(umask(mask)) {}
  ~Umask() { umask(saved); }
};

constexpr fs::perms userOnly = fs::perms::owner_all;
constexpr fs::perms userReadWrite = fs::perms::owner_read | fs::perms::owner_write;

fs::perms mode(const fs::path& path) {
  return fs::status(path).permissions() & fs::perms::all;
}

TEST_F(FileTest, StoreReplacesTheWholeFileAndLeavesNoTemporaryFile) {
  const Umask open(0);
  const fs::path file = root / "settings.json";
  put(file, "old");
  fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                            fs::perms::others_read);
  store(file, valid);
  EXPECT_EQ(contents(file), valid);
  EXPECT_EQ(load(file), expected());

  put(file, std::string(10000, 'x'));
  store(file, "{}");
  EXPECT_EQ(contents(file), "{}") << "a shorter content leaves nothing of the longer one";
  EXPECT_EQ(entries(root), std::vector<std::string>{"settings.json"});
  EXPECT_EQ(mode(file), userReadWrite) << "private to the user whatever the umask";
}

TEST_F(FileTest, StoreRemovesTemporaryFilesOfEarlierSavesOnly) {
  const fs::path file = root / "settings.json";
  for (const char* name : {"settings.json.a1B2c3", "settings.json.bak", "settings.json.a1B2c",
                           "other.json.a1B2c3", "settings.json.a1B2-3"})
    put(root / name, "left");
  fs::create_directory(root / "settings.json.Folder");
  store(file, valid);
  std::vector<std::string> left = entries(root);
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"other.json.a1B2c3", "settings.json",
                                            "settings.json.Folder", "settings.json.a1B2-3",
                                            "settings.json.a1B2c", "settings.json.bak"}));
}

// A save killed at any moment leaves the old or the new record; whatever temporary file it left
// is gone after the next save.
TEST_F(FileTest, KilledSavesLeaveOldOrNewAndTheNextSaveTidiesUp) {
  const fs::path file = root / "settings.json";
  const std::string other = encode(Settings());
  store(file, other);
  std::mt19937 random(7);
  for (int round = 0; round < 20; ++round) {
    int saving[2];
    ASSERT_EQ(pipe(saving), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      store(file, valid);
      [[maybe_unused]] const ssize_t told = write(saving[1], "s", 1);
      for (int i = 0;; ++i)
        store(file, i % 2 ? valid : other);
    }
    char told;
    ASSERT_EQ(::read(saving[0], &told, 1), 1);  // the child saves in a loop by now
    close(saving[0]);
    close(saving[1]);
    usleep(static_cast<useconds_t>(random() % 500));
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    const std::string now = contents(file);
    EXPECT_TRUE(now == valid || now == other) << "round " << round << ": " << now;
  }
  store(file, valid);
  EXPECT_EQ(entries(root), std::vector<std::string>{"settings.json"});
}

TEST_F(FileTest, FailedStoreKeepsTheOldContent) {
  EXPECT_THROW(store(root / "missing" / "settings.json", valid), Failure);
  EXPECT_TRUE(entries(root).empty());

  // A folder where the file should be: the rename fails and the temporary file is removed.
  const fs::path blocked = root / "blocked.json";
  fs::create_directory(blocked);
  put(blocked / "inside", "kept");
  EXPECT_THROW(store(blocked, valid), Failure);
  EXPECT_EQ(contents(blocked / "inside"), "kept");
  EXPECT_EQ(entries(root), std::vector<std::string>{"blocked.json"});
}

TEST_F(FileTest, PrepareCreatesPrivateParentsButNotOverAFile) {
  const fs::path folder = root / "a" / "b" / "Quillfen";
  const fs::perms before = mode(root);
  for (const mode_t mask : {mode_t{0000}, mode_t{0277}}) {
    const Umask any(mask);
    prepare(folder);
    for (const fs::path& made : {root / "a", root / "a" / "b", folder})
      EXPECT_EQ(mode(made), userOnly) << made << " under umask " << mask;
    EXPECT_EQ(mode(root), before) << "an existing folder keeps its mode";
    fs::remove_all(root / "a");
  }
  prepare(folder);
  prepare(folder);  // an existing folder is fine

  put(root / "Quillfen", "plain");
  EXPECT_THROW(prepare(root / "Quillfen"), Failure);
  EXPECT_EQ(contents(root / "Quillfen"), "plain");
}

}  // namespace
