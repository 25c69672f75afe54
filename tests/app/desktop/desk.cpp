#include "desk.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <chrono>
#include <sstream>
#include <thread>

#include "../../support/files.h"
#include "../../support/process.h"

namespace fs = std::filesystem;

namespace {

bool onPath(const std::string& name) {
  for (const char* folder : {"/usr/bin", "/bin", "/usr/libexec"}) {
    if (access((fs::path(folder) / name).c_str(), X_OK) == 0)
      return true;
  }
  return false;
}

// Reads one line from `fd`, waiting at most `milliseconds`.
std::string line(int fd, int milliseconds) {
  std::string text;
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < milliseconds) {
    pollfd one{fd, POLLIN, 0};
    if (poll(&one, 1, 50) <= 0)
      continue;
    char c;
    if (read(fd, &c, 1) != 1)
      break;
    if (c == '\n')
      return text;
    text += c;
  }
  return text;
}

}  // namespace

std::string missingTools() {
  std::string missing;
  for (const char* tool : {"Xvfb", "openbox", "xdotool", "xprop", "dbus-daemon",
                           "at-spi-bus-launcher", "at-spi2-registryd"}) {
    if (!onPath(tool))
      missing += std::string(missing.empty() ? "" : ", ") + tool;
  }
  return missing;
}

bool until(const std::function<bool()>& done, int milliseconds) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > milliseconds)
      return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

Child::Child(const std::vector<std::string>& argv, const std::vector<std::string>& env,
             const fs::path& output, int pipeTo) {
  int ends[2] = {-1, -1};
  if (pipeTo >= 0 && pipe2(ends, O_CLOEXEC) != 0)
    return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, (output.string() + ".out").c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, (output.string() + ".err").c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (pipeTo >= 0)
    posix_spawn_file_actions_adddup2(&actions, ends[1], pipeTo);
  // Ended with the test, even when the test itself is killed.
  std::vector<std::string> all{"/usr/bin/setpriv", "--pdeathsig", "SIGTERM", "--"};
  all.insert(all.end(), argv.begin(), argv.end());
  std::vector<char*> args;
  for (const auto& arg : all)
    args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  std::vector<char*> vars;
  for (const auto& var : env)
    vars.push_back(const_cast<char*>(var.c_str()));
  vars.push_back(nullptr);
  if (posix_spawn(&pid, all[0].c_str(), &actions, nullptr, args.data(), vars.data()) != 0)
    pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  if (pipeTo >= 0) {
    close(ends[1]);
    pipe = ends[0];
  }
}

Child::Child(Child&& other) noexcept {
  *this = std::move(other);
}

Child& Child::operator=(Child&& other) noexcept {
  end();
  pid = other.pid;
  pipe = other.pipe;
  status = other.status;
  other.pid = -1;
  other.pipe = -1;
  return *this;
}

Child::~Child() {
  end();
}

int Child::wait(int milliseconds) {
  if (pid < 0)
    return status;
  QElapsedTimer clock;
  clock.start();
  do {
    int got = 0;
    if (waitpid(pid, &got, WNOHANG) == pid) {
      pid = -1;
      status = got;
      return status;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  } while (clock.elapsed() < milliseconds);
  return -1;
}

void Child::end() {
  if (pid > 0) {
    kill(pid, SIGTERM);
    if (wait(3000) == -1) {
      kill(pid, SIGKILL);
      wait(3000);
    }
  }
  if (pipe >= 0)
    close(pipe);
  pipe = -1;
}

Desk::Desk(int screenWidth, int screenHeight) : width(screenWidth), height(screenHeight) {
  root = scratchFolder("desk");
  if (root.empty())
    return;
  for (const char* folder : {"home", "config", "runtime"})
    fs::create_directories(root / folder);
  fs::permissions(root / "runtime", fs::perms::owner_all);

  // The X server picks a free display and says which.
  server = Child({"Xvfb", "-displayfd", "3", "-screen", "0",
                  std::to_string(width) + "x" + std::to_string(height) + "x24", "-nolisten", "tcp",
                  "-noreset"},
                 {"PATH=/usr/bin:/bin"}, root / "xvfb", 3);
  const std::string number = line(server.pipe, 10000);
  if (number.empty())
    return;
  display = ":" + number;

  // The window manager, ready once it runs its startup command.
  const fs::path started = root / "openbox-started";
  manager = Child({"openbox", "--startup", "touch " + started.string()}, environment({}),
                  root / "openbox");
  if (!until([&] { return fs::exists(started); })) {
    display.clear();
    return;
  }

  // The session bus, on which the accessibility bus is started on demand.
  bus = Child({"dbus-daemon", "--session", "--nofork", "--nosyslog", "--print-address=3"},
              environment({}), root / "dbus", 3);
  busAddress = QString::fromStdString(line(bus.pipe, 10000));
}

Desk::~Desk() {
  bus.end();
  manager.end();
  server.end();
  std::error_code error;
  if (!root.empty())
    fs::remove_all(root, error);
}

std::vector<std::string> Desk::environment(const std::vector<std::string>& extra) const {
  std::vector<std::string> env{"PATH=/usr/bin:/bin",
                               "DISPLAY=" + display,
                               "HOME=" + (root / "home").string(),
                               "XDG_CONFIG_HOME=" + (root / "config").string(),
                               "XDG_RUNTIME_DIR=" + (root / "runtime").string(),
                               "DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/bus"};
  if (!busAddress.isEmpty())
    env.push_back("DBUS_SESSION_BUS_ADDRESS=" + busAddress.toStdString());
  for (const char* keep : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS", "LSAN_OPTIONS"}) {
    if (const char* value = getenv(keep))
      env.push_back(std::string(keep) + "=" + value);
  }
  // libxkbcommon-x11 hands strndup names that are not NUL-terminated, which strndup allows but
  // AddressSanitizer's strict string checks report when Qt connects to an X server.
  for (std::string& var : env) {
    if (var.starts_with("ASAN_OPTIONS="))
      var += ":strict_string_checks=0";
  }
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

QString Desk::accessibility() {
  QDBusConnection session = QDBusConnection::connectToBus(busAddress, "session " + busAddress);
  if (!session.isConnected())
    return {};
  // What a screen reader does when it starts: switch accessibility on, then ask where it is.
  QDBusMessage enable = QDBusMessage::createMethodCall("org.a11y.Bus", "/org/a11y/bus",
                                                       "org.freedesktop.DBus.Properties", "Set");
  enable << QString("org.a11y.Status") << QString("ScreenReaderEnabled")
         << QVariant::fromValue(QDBusVariant(true));
  session.call(enable, QDBus::Block, 10000);
  const QDBusMessage address = session.call(
      QDBusMessage::createMethodCall("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress"),
      QDBus::Block, 10000);
  return address.arguments().value(0).toString();
}

Child Desk::program(const std::vector<std::string>& arguments,
                    const std::vector<std::string>& extra) {
  std::vector<std::string> argv{QUILLFEN_PROGRAM};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  // No program of the desktop opens documents here: PATH leads nowhere.
  std::vector<std::string> env = environment(extra);
  env[0] = "PATH=/nonexistent";
  return Child(argv, env, root / "quillfen");
}

std::string Desk::x(const std::vector<std::string>& argv) {
  const std::vector<std::string> env = environment({});
  std::vector<char*> vars;
  for (const auto& var : env)
    vars.push_back(const_cast<char*>(var.c_str()));
  vars.push_back(nullptr);
  return runProgram("/usr/bin/" + argv[0], argv, vars.data()).out;
}

void Desk::keys(const std::vector<std::string>& names) {
  std::vector<std::string> argv{"xdotool", "key", "--delay", "60"};
  argv.insert(argv.end(), names.begin(), names.end());
  x(argv);
}
