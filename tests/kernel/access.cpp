// quillfen-access in the guest: the helper runs as root, started as systemd's socket activation
// starts it (the listening socket as descriptor 3, LISTEN_FDS and LISTEN_PID), with a logind
// session of the user nobody laid out where sd-login reads it (/run/systemd); the program runs as
// nobody, with no rule and no ACL on any device node. The guest program, /bin/guest, is the one
// program this build of the helper serves.

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <dirent.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "access/protocol.h"
#include "platform/linux/fd.h"
#include "platform/platform.h"
#include "tests/access/client.h"
#include "tests/kernel/checks.h"
#include "tests/kernel/harness.h"

namespace kerneltest {

namespace {

using linuxplatform::Fd;
using protocol::Status;

constexpr uid_t nobody = 65534;
const char* const helperProgram = "/bin/quillfen-access";

// Writes a file whole and then puts it in place, as logind does, so that a watcher sees it move in.
void place(const std::string& path, const std::string& text) {
  const std::string draft = path + ".draft";
  if (FILE* file = std::fopen(draft.c_str(), "we")) {
    std::fputs(text.c_str(), file);
    std::fclose(file);
  }
  rename(draft.c_str(), path.c_str());
}

// logind's records of nobody's one session, c1, on seat0.
void session(bool active, bool remote) {
  for (const char* folder : {"/run/systemd", "/run/systemd/seats", "/run/systemd/sessions",
                             "/run/systemd/users", "/run/systemd/machines"})
    mkdir(folder, 0755);
  place("/run/systemd/users/65534",
        std::string("NAME=nobody\nSTATE=") + (active ? "active" : "online") +
            "\nSESSIONS=c1\nONLINE_SESSIONS=c1\nACTIVE_SESSIONS=" + (active ? "c1" : "") + "\n");
  place("/run/systemd/sessions/c1",
        std::string("UID=65534\nUSER=nobody\nACTIVE=") + (active ? "1" : "0") +
            "\nSTATE=" + (active ? "active" : "online") + "\nREMOTE=" + (remote ? "1" : "0") +
            "\nSEAT=seat0\nTYPE=wayland\nCLASS=user\n");
}

// The helper, with the listening socket systemd would hand it.
pid_t startHelper() {
  unlink(protocol::socketPath);
  Fd listener(socket(AF_UNIX, SOCK_STREAM, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, protocol::socketPath, sizeof address.sun_path - 1);
  if (!listener ||
      bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      chmod(protocol::socketPath, 0666) != 0 || listen(listener.get(), 16) != 0)
    return -1;
  const pid_t helper = fork();
  if (helper == 0) {
    if (listener.get() != 3 && dup2(listener.get(), 3) != 3)
      _exit(127);
    setenv("LISTEN_FDS", "1", 1);
    setenv("LISTEN_PID", std::to_string(getpid()).c_str(), 1);
    execl(helperProgram, "quillfen-access", nullptr);
    _exit(127);
  }
  return helper;
}

// A process of the guest program, started as nobody the way a user starts a program: the user
// switched before exec, so that it starts dumpable, as any program of a user does.
struct Child {
  pid_t pid = -1;
  Fd out;
  std::string said;
};

Child spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env = {}) {
  Child child;
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0)
    return child;
  child.pid = fork();
  if (child.pid == 0) {
    dup2(out[1], 1);
    if (setgroups(0, nullptr) != 0 || setgid(nobody) != 0 || setuid(nobody) != 0)
      _exit(126);
    for (const std::string& variable : env)
      putenv(strdup(variable.c_str()));
    std::vector<char*> args;
    for (const std::string& arg : argv)
      args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(out[1]);
  child.out.reset(out[0]);
  fcntl(child.out.get(), F_SETFL, O_NONBLOCK);
  return child;
}

// The child's next line of output, waiting at most `seconds` and answering the pedal's kernel
// requests meanwhile; empty when none came.
std::string line(Child& child, Pedal& pedal, double seconds) {
  for (const double end = now() + seconds; now() < end; sleepFor(0.01)) {
    pedal.pump();
    char chunk[256];
    for (ssize_t n; (n = read(child.out.get(), chunk, sizeof chunk)) > 0;)
      child.said.append(chunk, static_cast<std::size_t>(n));
    const std::size_t newline = child.said.find('\n');
    if (newline != std::string::npos) {
      std::string first = child.said.substr(0, newline);
      child.said.erase(0, newline + 1);
      return first;
    }
  }
  return {};
}

// Every line the child prints until it ends (within `seconds`, or it is killed), and its exit
// status (-1 when it did not exit by itself).
int finish(Child& child, Pedal& pedal, double seconds, std::string* said = nullptr) {
  int status = 0;
  bool exited = false;
  for (const double end = now() + seconds; now() < end && !exited; sleepFor(0.01)) {
    pedal.pump();
    char chunk[256];
    for (ssize_t n; (n = read(child.out.get(), chunk, sizeof chunk)) > 0;)
      child.said.append(chunk, static_cast<std::size_t>(n));
    exited = waitpid(child.pid, &status, WNOHANG) == child.pid;
  }
  if (!exited) {
    kill(child.pid, SIGKILL);
    waitpid(child.pid, &status, 0);
  }
  char chunk[256];
  for (ssize_t n; (n = read(child.out.get(), chunk, sizeof chunk)) > 0;)
    child.said.append(chunk, static_cast<std::size_t>(n));
  if (said)
    *said = child.said;
  return exited && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Copies of the evdev descriptors the helper holds: the same open file descriptions as its
// duplicates, so that a read on one shows whether they were revoked.
std::vector<Fd> helperDescriptors(pid_t helper) {
  std::vector<Fd> copies;
  const Fd pidfd(static_cast<int>(syscall(SYS_pidfd_open, helper, 0)));
  const std::string folder = "/proc/" + std::to_string(helper) + "/fd";
  DIR* listing = opendir(folder.c_str());
  if (!pidfd || !listing)
    return copies;
  while (const dirent* entry = readdir(listing)) {
    char target[64] = "";
    const std::string link = folder + "/" + entry->d_name;
    if (readlink(link.c_str(), target, sizeof target - 1) <= 0 ||
        std::strncmp(target, "/dev/input/event", 16) != 0)
      continue;
    copies.emplace_back(
        static_cast<int>(syscall(SYS_pidfd_getfd, pidfd.get(), std::atoi(entry->d_name), 0)));
  }
  closedir(listing);
  return copies;
}

// Whether every copy reads ENODEV, revoked, within `seconds`.
bool revoked(const std::vector<Fd>& copies, double seconds) {
  for (const double end = now() + seconds;; sleepFor(0.01)) {
    bool all = !copies.empty();
    for (const Fd& copy : copies) {
      input_event event{};
      all = all && copy && read(copy.get(), &event, sizeof event) < 0 && errno == ENODEV;
    }
    if (all)
      return true;
    if (now() >= end)
      return false;
  }
}

bool nothingGrabbed(Pedal& pedal, Virtual& mouse) {
  return tryGrab(pedal.eventNode) == 0 && tryGrab(mouse.eventNode) == 0 &&
         eventNodesByPhys("quillfen/guard").empty();
}

// A child of the program through the helper: captured, learned and active with the guard, READY.
Child capturing(Pedal& pedal, const std::string& mode, std::string& ready) {
  const int uhid = dup(pedal.fd());
  Child child = spawn({"/bin/guest", "--through-helper", std::to_string(uhid), mode});
  close(uhid);
  ready = line(child, pedal, 60);
  return child;
}

// A session through the helper: the program's Space on the left pedal and its click guard.
void wholeSession(Pedal& pedal, Virtual& mouse, pid_t helper) {
  std::string ready;
  Child child = capturing(pedal, "kill", ready);
  check(ready == "READY helper all", "helper-session",
        "as nobody, inspected, started, learned and activated through quillfen-access: [%s]; "
        "Permissions says the helper hands every device over",
        ready.c_str());
  int grab = 0;
  for (const double end = now() + 3; now() < end && grab != EBUSY; sleepFor(0.01))
    grab = tryGrab(mouse.eventNode);
  std::vector<std::unique_ptr<Reader>> posted;
  for (const std::string& node : eventNodesByPhys("quillfen/keyboard"))
    posted.push_back(std::make_unique<Reader>(node));
  Reader clicks(eventNodeByPhys("quillfen/guard", 1));
  const auto drain = [&](double quiet) {
    std::vector<input_event> events;
    for (const auto& reader : posted)
      for (const input_event& event : reader->drain(quiet))
        events.push_back(event);
    return events;
  };
  drain(0.1);
  // A press, and a click as soon as its Space is posted: within the guard's 250 ms.
  const std::uint8_t press[2] = {1, 0};
  const std::uint8_t release[2] = {0, 0};
  pedal.send(press);
  std::vector<input_event> events;
  for (const double end = now() + 2; now() < end && events.empty();)
    for (const auto& reader : posted)
      if (const auto event = reader->next(0.005))
        events.push_back(*event);
  click(mouse);
  move(mouse);
  pedal.send(release);
  const Counts inside = count(clicks.drain(0.15), BTN_LEFT);
  for (const input_event& event : drain(0.2))
    events.push_back(event);
  const Counts space = count(events, KEY_SPACE);
  sleepFor(0.3);
  click(mouse);
  move(mouse);
  const Counts after = count(clicks.drain(0.15), BTN_LEFT);
  check(grab == EBUSY && space.down == 1 && space.up == 1 && inside.down == 0 && inside.up == 0 &&
            inside.moves == 1 && after.down == 1 && after.up == 1,
        "helper-press",
        "mouse grabbed %d; KEY_SPACE down %d up %d; within 250 ms BTN_LEFT down %d up %d, moves "
        "%d; after, BTN_LEFT down %d up %d",
        grab == EBUSY, space.down, space.up, inside.down, inside.up, inside.moves, after.down,
        after.up);

  // Killed, the program leaves nothing: the helper revokes its duplicates, so the grabs they
  // shared end too.
  const std::vector<Fd> copies = helperDescriptors(helper);
  kill(child.pid, SIGKILL);
  finish(child, pedal, 5);
  const bool gone = revoked(copies, 5);
  check(copies.size() >= 3 && gone && nothingGrabbed(pedal, mouse), "helper-sigkill",
        "%zu evdev descriptors of the helper's read ENODEV after the program was killed: %d; "
        "pedal and mouse grabbable, no clone left",
        copies.size(), gone);
}

// The session stops being active while the program captures: everything goes back at once.
void sessionEnds(Pedal& pedal, Virtual& mouse, pid_t helper) {
  std::string ready;
  Child child = capturing(pedal, "session", ready);
  const std::vector<Fd> copies = helperDescriptors(helper);
  session(false, false);
  const std::string stopped = line(child, pedal, 10);
  const bool gone = revoked(copies, 5);
  const bool free = nothingGrabbed(pedal, mouse);
  const std::string polled = line(child, pedal, 10);
  const std::string again = line(child, pedal, 10);
  finish(child, pedal, 10);
  session(true, false);
  // The helper's end of the connection or the revoked guard, whichever the worker meets first.
  const std::set<std::string> stops = {
      "STOPPED Device or input permission changed. Inspect again.",
      "STOPPED Mouse tap disabled; capture stopped. Inspect again."};
  check(ready == "READY helper all" && stops.count(stopped) == 1 && gone && free &&
            polled == "POLLED 0" &&
            again == "AGAIN Grant Input Monitoring using Permissions, then inspect again.",
        "helper-session-ended",
        "captured [%s]; the session made inactive: [%s]; %zu descriptors revoked %d; nothing "
        "grabbed %d; [%s]; then [%s]",
        ready.c_str(), stopped.c_str(), copies.size(), gone, free, polled.c_str(), again.c_str());
}

// What the helper hands the program, and what it answers processes that are not the program as it
// should run, or whose user's session is not an active local one.
void refusals(Pedal& pedal) {
  // A copy of the program elsewhere, root's like the original; a file anyone may write, to map.
  const bool copied = std::system("cp /bin/guest /tmp/impostor && chmod 755 /tmp/impostor") == 0;
  if (FILE* file = std::fopen("/tmp/writable", "we")) {
    std::fputs(std::string(4096, 'x').c_str(), file);
    std::fclose(file);
  }
  chmod("/tmp/writable", 0666);
  const auto status = [](Status verdict) {
    return "STATUS " + std::to_string(static_cast<int>(verdict));
  };
  struct Case {
    const char* name;
    std::vector<std::string> argv;
    std::vector<std::string> env;
    std::string expected;
    bool active = true, remote = false;
  };
  const std::vector<Case> cases = {
      {"hands-the-pedal",
       {"/bin/guest", "--ask", "pedal"},
       {},
       status(Status::granted) + " /dev/" + pedal.hidraw + " " + pedal.eventNode},
      {"another-program", {"/tmp/impostor", "--ask", "pedal"}, {}, status(Status::program)},
      {"dumpable", {"/bin/guest", "--ask", "dumpable"}, {}, status(Status::dumpable)},
      {"traced", {"/bin/guest", "--ask", "traced"}, {}, status(Status::traced)},
      {"a-writable-file-mapped", {"/bin/guest", "--ask", "mapping"}, {}, status(Status::mapping)},
      {"a-loader-variable",
       {"/bin/guest", "--ask", "pedal"},
       {"LD_LIBRARY_PATH=/nowhere"},
       status(Status::environment)},
      {"another-process-on-its-connection",
       {"/bin/guest", "--ask", "sender"},
       {},
       status(Status::sender)},
      {"an-inactive-session", {"/bin/guest", "--ask", "pedal"}, {}, status(Status::session), false},
      {"a-remote-session",
       {"/bin/guest", "--ask", "pedal"},
       {},
       status(Status::session),
       true,
       true},
  };
  for (const Case& item : cases) {
    session(item.active, item.remote);
    Child child = spawn(item.argv, item.env);
    std::string said;
    finish(child, pedal, 30, &said);
    said = said.substr(0, said.find('\n'));
    check((copied || item.argv[0] != "/tmp/impostor") && said == item.expected,
          ("helper-" + std::string(item.name)).c_str(), "expected [%s], said [%s]",
          item.expected.c_str(), said.c_str());
  }
  session(true, false);
}

}  // namespace

void accessHelper(Pedal& pedal, Virtual& mouse, Virtual& keyboard) {
  // No rule and no ACL: the nodes are root's alone.
  bool rootsAlone = true;
  for (const std::string& node : {"/dev/" + pedal.hidraw, pedal.eventNode, mouse.eventNode,
                                  keyboard.eventNode, std::string("/dev/uinput")}) {
    struct stat info {};
    rootsAlone = rootsAlone && stat(node.c_str(), &info) == 0 && info.st_uid == 0 &&
                 (info.st_mode & 077) == 0;
  }
  session(true, false);
  const pid_t helper = access(helperProgram, X_OK) == 0 ? startHelper() : -1;
  check(rootsAlone && helper > 0, "helper-started",
        "the device nodes are root's alone; quillfen-access started on its socket as pid %d",
        static_cast<int>(helper));
  if (helper <= 0)
    return;
  wholeSession(pedal, mouse, helper);
  sessionEnds(pedal, mouse, helper);
  refusals(pedal);

  // Stopped, the helper ends cleanly.
  kill(helper, SIGTERM);
  int status = 0;
  waitpid(helper, &status, 0);
  unlink(protocol::socketPath);
  check(WIFEXITED(status) && WEXITSTATUS(status) == 0, "helper-stopped", "exit status %d",
        WIFEXITED(status) ? WEXITSTATUS(status) : -1);
}

int throughHelper(int uhid, const std::string& mode) {
  Harness h;
  if (!activate(h, inherited(uhid), guarded(), activated)) {
    std::printf("FAILED %s\n", h.statuses.empty() ? "" : h.statuses.back().c_str());
    return 1;
  }
  sleepFor(0.3);  // the guard grabs from the worker's loop
  const std::string report = platform::accessReport();
  std::printf(
      "READY %s %s\n",
      report.find("hands these devices to the installed Quillfen alone") != std::string::npos
          ? "helper"
          : "direct",
      report.rfind("Quillfen can open every device it needs.", 0) == 0 ? "all" : "missing");
  std::fflush(stdout);
  if (mode == "kill")
    for (;;) {
      h.pump();
      sleepFor(0.05);
    }
  const std::size_t from = h.statuses.size();
  for (const double end = now() + 10; now() < end && h.statuses.size() == from; sleepFor(0.01))
    h.pump();
  std::printf("STOPPED %s\n", h.statuses.size() > from ? h.statuses.back().c_str() : "");
  std::fflush(stdout);
  // Stopped, with the revoked descriptors met, the worker waits on its sources again rather than
  // asking the keyboards at every pass. The second answer counts: the first may still carry an
  // answer of the ended connection.
  for (const double end = now() + 0.5; now() < end; sleepFor(0.01))
    h.pump();
  auto polled = std::make_shared<std::atomic<int>>(-1);
  h.send([polled](Backend&) {
    platform::statePolled();
    *polled = platform::statePolled();
  });
  for (const double end = now() + 5; now() < end && *polled < 0; sleepFor(0.01))
    h.pump();
  std::printf("POLLED %d\n", polled->load());
  std::fflush(stdout);
  const std::size_t before = h.statuses.size();
  h.send([](Backend& b) { b.inspect(); });
  for (const double end = now() + 10; now() < end && h.statuses.size() == before; sleepFor(0.01))
    h.pump();
  std::printf("AGAIN %s\n", h.statuses.size() > before ? h.statuses.back().c_str() : "");
  return 0;
}

int ask(const std::string& variant) {
  // Each variant ends with _exit: a traced process's exit must not wait on its sanitizer.
  if (variant == "traced")
    ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
  if (variant == "mapping") {
    const Fd file(open("/tmp/writable", O_RDONLY | O_CLOEXEC));
    if (!file ||
        mmap(nullptr, 4096, PROT_READ | PROT_EXEC, MAP_PRIVATE, file.get(), 0) == MAP_FAILED) {
      std::printf("STATUS no mapping\n");
      std::fflush(stdout);
      _exit(1);
    }
  }
  if (variant != "dumpable")
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
  const auto say = [](const std::string& text) {
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
  };
  Client client(protocol::socketPath);
  const auto first = client.next();
  if (!first || std::holds_alternative<protocol::Answer>(*first)) {
    say(first ? "STATUS " +
                    std::to_string(static_cast<int>(std::get<protocol::Answer>(*first).status))
              : "STATUS none");
    _exit(0);
  }
  client.nonce = std::get<protocol::Hello>(*first).nonce;
  if (variant == "sender") {
    // A copy of the program, another process, asks on this connection.
    std::string nonce;
    for (const std::uint8_t byte : client.nonce)
      nonce += std::to_string(byte) + ",";
    const int inherited = dup(client.fd.get());
    const pid_t other = fork();
    if (other == 0) {
      execl("/proc/self/exe", "guest", "--send", std::to_string(inherited).c_str(), nonce.c_str(),
            nullptr);
      _exit(127);
    }
    close(inherited);
    waitpid(other, nullptr, 0);
    const auto answer = client.answer();
    say(answer ? "STATUS " + std::to_string(static_cast<int>(answer->status)) : "STATUS none");
    _exit(0);
  }
  // The pedal's nodes: none named by this process, every one found by the helper.
  std::vector<Fd> fds;
  const auto answer = client.open(protocol::Kind::pedal) ? client.answer(&fds) : std::nullopt;
  std::string text =
      "STATUS " + (answer ? std::to_string(static_cast<int>(answer->status)) : "none");
  for (const protocol::Node& node : answer ? answer->nodes : std::vector<protocol::Node>())
    text += " " + node.path;
  say(text);
  _exit(0);
}

int sendFor(int fd, const std::string& nonce) {
  protocol::Nonce bytes{};
  std::size_t at = 0;
  for (std::size_t i = 0; i < bytes.size() && at < nonce.size(); ++i) {
    bytes[i] = static_cast<std::uint8_t>(std::atoi(nonce.c_str() + at));
    at = nonce.find(',', at) + 1;
  }
  prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
  const auto request = protocol::encode(protocol::Open{protocol::Kind::input, bytes});
  const bool sent = send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
                    static_cast<ssize_t>(request.size());
  _exit(sent ? 0 : 1);
}

}  // namespace kerneltest
