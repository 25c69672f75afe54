#include "app/qt/opener.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QElapsedTimer>
#include <QTimer>
#include <string>

extern char** environ;

void openDocument(QObject* owner, const QString& path, std::function<void()> failed) {
  const std::string file = path.toStdString();
  std::string program = "xdg-open";
  char* argv[] = {program.data(), const_cast<char*>(file.c_str()), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (int fd : {0, 1, 2})
    posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
  // Its own signal state, not ours.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  const int spawned = posix_spawnp(&pid, program.c_str(), &actions, &attributes, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (spawned != 0) {
    failed();
    return;
  }

  // Its end is collected while the owner lives: often at first, then seldom, since it may wait
  // as long as the program it started stays open.
  constexpr qint64 settling = 10000;
  auto* watch = new QTimer(owner);
  watch->setInterval(50);
  QElapsedTimer clock;
  clock.start();
  QObject::connect(watch, &QTimer::timeout, watch, [watch, pid, failed, clock] {
    int status = 0;
    const pid_t ended = waitpid(pid, &status, WNOHANG);
    const bool early = clock.elapsed() < settling;
    if (ended == 0) {
      if (!early)
        watch->setInterval(2000);
      return;
    }
    watch->stop();
    watch->deleteLater();
    if (ended == pid && early && !(WIFEXITED(status) && WEXITSTATUS(status) == 0))
      failed();
  });
  watch->start();
}
