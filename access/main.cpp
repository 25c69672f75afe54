// quillfen-access: hands the installed Quillfen the device nodes it needs, over the socket systemd
// listens on for it (socket activation), and takes the evdev ones back when the program's
// connection closes or its user's session stops being active. Runs as root; no GUI library.

#include <fcntl.h>
#include <linux/input.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <systemd/sd-daemon.h>
#include <systemd/sd-login.h>

#include <cstdio>
#include <iterator>
#include <string>

#include "access/devices.h"
#include "access/peer.h"
#include "access/server.h"
#include "access/session.h"
#include "platform/linux/fd.h"

#ifndef QUILLFEN_ACCESS_PROGRAM
#error "QUILLFEN_ACCESS_PROGRAM names the one program the helper serves"
#endif

namespace {

using linuxplatform::Fd;

const char* const reasons[] = {
    "granted",
    "not the installed program",
    "traced",
    "dumpable",
    "code from a file others may change",
    "loader or plugin variables in its environment",
    "no active local session",
    "a request from another process",
    "limit reached",
    "could not be examined",
};
static_assert(std::size(reasons) == protocol::lastStatus + 1, "a reason for every status");

protocol::Status examine(pid_t pid) {
  const std::string path = "/proc/" + std::to_string(pid);
  Fd proc(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  const protocol::Status status =
      proc ? helper::examine(proc.get(), QUILLFEN_ACCESS_PROGRAM) : protocol::Status::failed;
  if (status != protocol::Status::granted)
    std::fprintf(stderr, "quillfen-access: refused process %d: %s\n", static_cast<int>(pid),
                 reasons[static_cast<int>(status)]);
  return status;
}

}  // namespace

int main() {
  // Exactly one listening Unix stream socket, from systemd (LISTEN_FDS, LISTEN_PID).
  if (sd_listen_fds(1) != 1 ||
      sd_is_socket_unix(SD_LISTEN_FDS_START, SOCK_STREAM, 1, nullptr, 0) <= 0) {
    std::fprintf(stderr, "quillfen-access: started without its socket; it is socket-activated\n");
    return 1;
  }
  // Every connection may hold a few hundred duplicates.
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }
  sigset_t ending;
  sigemptyset(&ending);
  sigaddset(&ending, SIGTERM);
  sigaddset(&ending, SIGINT);
  sigprocmask(SIG_BLOCK, &ending, nullptr);
  signal(SIGPIPE, SIG_IGN);
  Fd signals(signalfd(-1, &ending, SFD_CLOEXEC | SFD_NONBLOCK));

  helper::Server server(SD_LISTEN_FDS_START);
  server.examine = &examine;
  server.session = &helper::activeLocal;
  server.find = &helper::find;
  server.revoke = [](int fd) { ioctl(fd, EVIOCREVOKE, nullptr); };

  bool stopping = false;
  server.watch(signals.get(), [&stopping] { stopping = true; });
  // logind rewrites a session's file when it becomes active or inactive or ends, and a user's
  // file when the user's sessions change. Without logind there is nothing to watch, and no
  // session is active.
  sd_login_monitor* monitors[2] = {nullptr, nullptr};
  const char* categories[2] = {"session", "uid"};
  for (int i = 0; i < 2; ++i) {
    if (sd_login_monitor_new(categories[i], &monitors[i]) < 0)
      continue;
    sd_login_monitor* monitor = monitors[i];
    server.watch(sd_login_monitor_get_fd(monitor), [monitor, &server] {
      sd_login_monitor_flush(monitor);
      server.sessionsChanged();
    });
  }
  while (!stopping && server.turn(-1)) {
  }
  // Stopped (the package removed or upgraded): no program keeps what the helper gave it.
  server.shutdown();
  for (sd_login_monitor* monitor : monitors)
    if (monitor)
      sd_login_monitor_unref(monitor);
  return 0;
}
