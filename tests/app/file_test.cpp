#include "app/file.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

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
    std::string pattern = (fs::temp_directory_path() / "quillfen-file-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root = pattern;
  }
  void TearDown() override { fs::remove_all(root); }

  void put(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
  }
  static std::string read(const fs::path& path) {
    std::ifstream input(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << input.rdbuf();
    return bytes.str();
  }
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
    EXPECT_EQ(read(file), bad) << "loading never changes the file";
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

TEST_F(FileTest, StoreReplacesTheWholeFileAndLeavesNoTemporaryFile) {
  const fs::path file = root / "settings.json";
  store(file, valid);
  EXPECT_EQ(read(file), valid);
  EXPECT_EQ(load(file), expected());

  put(file, std::string(10000, 'x'));
  store(file, "{}");
  EXPECT_EQ(read(file), "{}") << "a shorter content leaves nothing of the longer one";
  EXPECT_EQ(entries(root), std::vector<std::string>{"settings.json"});
  EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                fs::perms::others_read);
}

TEST_F(FileTest, FailedStoreKeepsTheOldContent) {
  EXPECT_THROW(store(root / "missing" / "settings.json", valid), Failure);
  EXPECT_TRUE(entries(root).empty());

  // A folder where the file should be: the rename fails and the temporary file is removed.
  const fs::path blocked = root / "blocked.json";
  fs::create_directory(blocked);
  put(blocked / "inside", "kept");
  EXPECT_THROW(store(blocked, valid), Failure);
  EXPECT_EQ(read(blocked / "inside"), "kept");
  EXPECT_EQ(entries(root), std::vector<std::string>{"blocked.json"});
}

TEST_F(FileTest, PrepareCreatesParentsButNotOverAFile) {
  const fs::path folder = root / "a" / "b" / "Quillfen";
  prepare(folder);
  EXPECT_TRUE(fs::is_directory(folder));
  prepare(folder);  // an existing folder is fine

  put(root / "Quillfen", "plain");
  EXPECT_THROW(prepare(root / "Quillfen"), Failure);
  EXPECT_EQ(read(root / "Quillfen"), "plain");
}

}  // namespace
