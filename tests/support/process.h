#pragma once

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <string>
#include <vector>

extern char** environ;

// Runs a program to its end with the given argv (argv[0] included) and collects what it wrote to
// standard output and standard error separately.
struct Outcome {
  int status = -1;  // exit status, or -1 when the program did not exit normally
  std::string out;
  std::string err;
};

// A pipe whose ends are closed in the spawned program (pipe2 is not on every system).
inline bool closingPipe(int ends[2]) {
  if (pipe(ends) != 0)
    return false;
  if (fcntl(ends[0], F_SETFD, FD_CLOEXEC) == 0 && fcntl(ends[1], F_SETFD, FD_CLOEXEC) == 0)
    return true;
  close(ends[0]);
  close(ends[1]);
  return false;
}

inline Outcome runProgram(const std::string& path, const std::vector<std::string>& argv,
                          char** env = environ) {
  Outcome outcome;
  int outPipe[2];
  int errPipe[2];
  if (!closingPipe(outPipe))
    return outcome;
  if (!closingPipe(errPipe)) {
    close(outPipe[0]);
    close(outPipe[1]);
    return outcome;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);

  std::vector<char*> args;
  for (const auto& arg : argv)
    args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);

  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, path.c_str(), &actions, nullptr, args.data(), env);
  posix_spawn_file_actions_destroy(&actions);
  close(outPipe[1]);
  close(errPipe[1]);

  std::array<pollfd, 2> fds{{{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}}};
  std::array<std::string*, 2> sinks{&outcome.out, &outcome.err};
  int open = spawned == 0 ? 2 : 0;
  while (open > 0) {
    if (poll(fds.data(), fds.size(), -1) < 0)
      break;
    for (std::size_t i = 0; i < fds.size(); ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0)
        continue;
      char chunk[4096];
      const ssize_t got = read(fds[i].fd, chunk, sizeof chunk);
      if (got > 0) {
        sinks[i]->append(chunk, static_cast<std::size_t>(got));
      } else {
        fds[i].fd = -1;
        --open;
      }
    }
  }
  close(outPipe[0]);
  close(errPipe[0]);

  if (spawned == 0) {
    int wstatus = 0;
    if (waitpid(pid, &wstatus, 0) == pid && WIFEXITED(wstatus)) {
      outcome.status = WEXITSTATUS(wstatus);
    }
  }
  return outcome;
}
