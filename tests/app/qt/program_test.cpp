// The program run as a process: the startup check, its picture, and the ways out.

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fcntl.h>

#include <QImage>
#include <chrono>

#include "../../support/process.h"
#include "fixture.h"

namespace {

// The program's outcome as a process: how it ended and what it printed. A run that has not
// ended by itself within four seconds is blocked, and killed.
struct Limited {
  int status = 0;  // wait status
  std::string out, err;
  bool blocked = false;
};

Limited limited(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                const std::filesystem::path& folder) {
  Limited result;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, (folder / "out").c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, (folder / "err").c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<char*> args, vars;
  for (const auto& arg : argv)
    args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  for (const auto& var : env)
    vars.push_back(const_cast<char*>(var.c_str()));
  vars.push_back(nullptr);
  pid_t pid = -1;
  const int spawned =
      posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, args.data(), vars.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    result.status = -1;
    return result;
  }
  result.blocked = true;
  for (int i = 0; i < 800 && result.blocked; ++i) {
    result.blocked = waitpid(pid, &result.status, WNOHANG) != pid;
    if (result.blocked)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (result.blocked) {
    kill(pid, SIGKILL);
    waitpid(pid, &result.status, 0);
  }
  result.out = contents(folder / "out");
  result.err = contents(folder / "err");
  return result;
}

// The last line a run wrote to standard error.
std::string lastLine(const std::string& text) {
  std::string trimmed = text;
  while (!trimmed.empty() && trimmed.back() == '\n')
    trimmed.pop_back();
  return trimmed.substr(trimmed.rfind('\n') == std::string::npos ? 0 : trimmed.rfind('\n') + 1);
}

// Every way a run under a limit may end by itself within seconds: the check passes, or the
// program says in one line why it cannot go on and exits 1. Never an abort, a crash or a hang.
// `loader` accepts the dynamic loader's refusal to start at all.
void expectClean(const Limited& run, const std::string& limit, bool loader) {
  SCOPED_TRACE(limit + ": " + run.err);
  ASSERT_FALSE(run.blocked) << "did not end by itself within four seconds";
  ASSERT_TRUE(WIFEXITED(run.status)) << "ended by signal " << WTERMSIG(run.status);
  const int code = WEXITSTATUS(run.status);
  if (code == 0) {
    EXPECT_EQ(run.out, "PASS macOS GUI startup; capture inactive.\n");
  } else if (code == 127 && loader) {
    EXPECT_NE(run.err.find("error while loading shared libraries"), std::string::npos);
  } else {
    EXPECT_EQ(code, 1);
    EXPECT_EQ(lastLine(run.err).rfind("quillfen: ", 0), 0u) << "no line of ours";
    EXPECT_EQ(run.out, "");
  }
}

const std::string pass = "PASS macOS GUI startup; capture inactive.\n";

// A process environment of our own: offscreen, no buses, settings in a temporary folder.
class Program : public testing::Test {
 protected:
  void SetUp() override {
#ifndef QUILLFEN_PROGRAM_WINDOW
    GTEST_SKIP() << "the program has no window on this system";
#endif
    root = scratchFolder("run");
    ASSERT_FALSE(root.empty());
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

TEST_F(Program, WithoutADisplayOneLineAndStatusOne) {
  const std::vector<std::string> bare{"PATH=/usr/bin:/bin", "HOME=" + root.string()};
  struct Case {
    std::string display;
    std::string said;
  };
  for (const Case& item :
       {Case{"",
             "quillfen: no display to open the window on (DISPLAY and WAYLAND_DISPLAY are "
             "unset); start it in a desktop session, or run quillfen --self-test\n"},
        Case{"DISPLAY=:4711",
             "quillfen: cannot open the window: the display :4711 cannot be "
             "reached\n"}}) {
    std::vector<std::string> env = bare;
    if (!item.display.empty())
      env.push_back(item.display);
    const Limited run = limited({QUILLFEN_PROGRAM}, env, root);
    ASSERT_TRUE(WIFEXITED(run.status)) << "signal " << WTERMSIG(run.status);
    EXPECT_EQ(WEXITSTATUS(run.status), 1);
    EXPECT_EQ(run.err, item.said);
    EXPECT_EQ(run.out, "");
  }
  // The self-test needs no display.
  const Limited check = limited({QUILLFEN_PROGRAM, "--self-test"}, bare, root);
  EXPECT_TRUE(WIFEXITED(check.status) && WEXITSTATUS(check.status) == 0);
  EXPECT_EQ(check.out.rfind("PASS ", 0), 0u);
}

// Under a descriptor limit, a process limit and a small address space, as a user the limits bind
// (root ignores the process limit): every run ends by itself and cleanly, with its reason.
TEST_F(Program, ResourceLimitsEndCleanly) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers' own threads and address space decide these limits";
#endif
  if (getuid() != 0)
    GTEST_SKIP() << "needs root to run the program as another user under a process limit";
  std::filesystem::permissions(root, std::filesystem::perms::all);
  const std::vector<std::string> env{"PATH=/usr/bin:/bin",
                                     "HOME=" + root.string(),
                                     "XDG_RUNTIME_DIR=" + root.string(),
                                     "QT_QPA_PLATFORM=offscreen",
                                     "DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/bus",
                                     "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/bus"};
  auto nobody = [&](const std::vector<std::string>& command) {
    std::vector<std::string> argv{"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                  "--clear-groups"};
    argv.insert(argv.end(), command.begin(), command.end());
    return limited(argv, env, root);
  };
  if (const Limited run = nobody({QUILLFEN_PROGRAM, "--self-test"});
      !WIFEXITED(run.status) || WEXITSTATUS(run.status) != 0)
    GTEST_SKIP() << "the program cannot run as nobody here: " << run.err;

  // GLib's wake-up pipes need descriptors before anything else can say so.
  const Limited few = nobody({"/usr/bin/prlimit", "--nofile=12", QUILLFEN_PROGRAM, "--ui-test"});
  expectClean(few, "--nofile=12", false);
  EXPECT_NE(few.err.find("quillfen: too few file descriptors"), std::string::npos);

  // Under a process limit some runs stop for want of a thread, and a limit that suffices passes.
  int threadLines = 0, passes = 0;
  for (int value = 1; value <= 6; ++value) {
    const std::string limit = "--nproc=" + std::to_string(value);
    const Limited run = nobody({"/usr/bin/prlimit", limit, QUILLFEN_PROGRAM, "--ui-test"});
    expectClean(run, limit, false);
    threadLines += lastLine(run.err).find("cannot start") != std::string::npos;
    passes += !run.blocked && WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0;
  }
  EXPECT_GT(threadLines, 0) << "no process limit stopped a thread";
  EXPECT_GT(passes, 0) << "no process limit sufficed";

  // An address space below 1 GiB is refused before the libraries can fail inside (the loader may
  // refuse first), a soft limit below it is raised when the hard one allows, and 1 GiB passes.
  const struct {
    std::string soft, hard;
    bool passes;
  } spaces[] = {{"64", "64", false},   {"81", "81", false},       {"98", "98", false},
                {"256", "256", false}, {"1023", "1023", false},   {"1024", "1024", true},
                {"128", "2048", true}, {"128", "unlimited", true}};
  for (const auto& space : spaces) {
    auto bytes = [](const std::string& mib) {
      return mib == "unlimited" ? mib : std::to_string(std::stoull(mib) << 20);
    };
    const std::string limit = "--as=" + bytes(space.soft) + ":" + bytes(space.hard);
    const Limited run = nobody({"/usr/bin/prlimit", limit, QUILLFEN_PROGRAM, "--ui-test"});
    expectClean(run, "--as=" + space.soft + ":" + space.hard, true);
    if (space.passes) {
      EXPECT_EQ(run.out, pass) << space.soft << ":" << space.hard << " " << run.err;
    } else if (!WIFEXITED(run.status) || WEXITSTATUS(run.status) != 127) {
      EXPECT_EQ(lastLine(run.err), "quillfen: too little address space (the limit is " +
                                       space.hard +
                                       " MiB, the window needs 1024 MiB); nothing "
                                       "was captured");
    }
  }
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
  // The program listens for other starts once its signals are handled: that is when it is ready.
  variables.push_back("XDG_RUNTIME_DIR=" + root.string());
  const std::filesystem::path ready = root / ("quillfen-" + std::to_string(getuid()) + ".socket");
  for (int number : {SIGTERM, SIGINT, SIGHUP}) {
    std::vector<char*> env;
    for (auto& entry : variables)
      env.push_back(entry.data());
    env.push_back(nullptr);
    std::string path = QUILLFEN_PROGRAM;
    char* argv[] = {path.data(), nullptr};
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, env.data()), 0);
    for (int i = 0; i < 1000 && !std::filesystem::exists(ready); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(std::filesystem::exists(ready)) << "the program never got ready";
    kill(pid, number);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status)) << "signal " << number << " ended the program abruptly";
    EXPECT_EQ(WEXITSTATUS(status), 0) << number;
  }
}

}  // namespace
