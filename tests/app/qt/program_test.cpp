// The program run as a process: the startup check, its picture, and the ways out.

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QImage>

#include "../../support/process.h"
#include "fixture.h"

namespace {

const std::string pass = "PASS macOS GUI startup; capture inactive.\n";

// A process environment of our own: offscreen, no buses, settings in a temporary folder.
class Program : public testing::Test {
 protected:
  void SetUp() override {
#ifndef QUILLFEN_PROGRAM_WINDOW
    GTEST_SKIP() << "the program has no window on this system";
#endif
    std::string pattern = (std::filesystem::temp_directory_path() / "quillfen-run-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root = pattern;
    variables = {"QT_QPA_PLATFORM=offscreen", "XDG_CONFIG_HOME=" + (root / "config").string(),
                 "HOME=" + root.string(), "DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/bus",
                 "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/bus"};
    for (const char* keep : {"PATH", "ASAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS"}) {
      if (const char* value = getenv(keep))
        variables.push_back(std::string(keep) + "=" + value);
    }
  }
  void TearDown() override {
    if (!root.empty())
      std::filesystem::remove_all(root);
  }

  Outcome run(const std::vector<std::string>& arguments, const std::string& picture = {}) {
    std::vector<std::string> all = variables;
    if (!picture.empty())
      all.push_back("QUILLFEN_MAC_UI_SCREENSHOT=" + picture);
    std::vector<char*> env;
    for (auto& entry : all)
      env.push_back(entry.data());
    env.push_back(nullptr);
    std::vector<std::string> argv{QUILLFEN_PROGRAM};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return runProgram(QUILLFEN_PROGRAM, argv, env.data());
  }

  std::filesystem::path root;
  std::vector<std::string> variables;
};

TEST_F(Program, StartupCheckWritesThePictureAndPasses) {
  const std::filesystem::path picture = root / "window.png";
  const Outcome outcome = run({"--ui-test"}, picture.string());
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.out, pass);
  const QImage image(QString::fromStdString(picture.string()));
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(image.size(), QSize(800, 820));
  EXPECT_FALSE(std::filesystem::exists(root / "config" / "Quillfen"));
}

TEST_F(Program, StartupCheckPassesWithoutAPicture) {
  Outcome outcome = run({"--ui-test"}, (root / "missing" / "window.png").string());
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.out, pass);
  EXPECT_FALSE(std::filesystem::exists(root / "missing"));

  outcome = run({"--ui-test"});
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.out, pass);
}

TEST_F(Program, SelfTestWinsOverTheStartupCheck) {
  const std::filesystem::path picture = root / "window.png";
  const Outcome outcome = run({"--ui-test", "--self-test"}, picture.string());
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out.rfind("PASS macOS pure policy", 0), 0u) << outcome.out;
  EXPECT_EQ(outcome.out.find("GUI"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(picture)) << "no window was opened";
}

TEST_F(Program, TerminationSignalsQuitCleanly) {
  for (int number : {SIGTERM, SIGINT, SIGHUP}) {
    std::vector<char*> env;
    for (auto& entry : variables)
      env.push_back(entry.data());
    env.push_back(nullptr);
    std::string path = QUILLFEN_PROGRAM;
    char* argv[] = {path.data(), nullptr};
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, env.data()), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    kill(pid, number);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status)) << "signal " << number << " ended the program abruptly";
    EXPECT_EQ(WEXITSTATUS(status), 0) << number;
  }
}

}  // namespace
