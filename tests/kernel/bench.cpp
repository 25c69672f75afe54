// The peers benchmark of the kernel test's guest: Quillfen beside other Linux remappers, in one
// boot, on the same uhid pedal with the same presses. Each tool maps the pedal's left pedal to
// KEY_SPACE; the benchmark measures the time from the report written to uhid until KEY_SPACE is
// readable from the tool's output device, the processor time and context switches of the tool's
// processes, and, for Quillfen, the system calls of its worker thread (strace -c).

#include "tests/kernel/bench.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/uinput.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/kernel/devices.h"
#include "tests/kernel/harness.h"

namespace kerneltest {

namespace {

// Where run.sh puts the peers unpacked from Debian's packages.
const std::string peers = "/peers";

std::string slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> entries(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.')
        names.emplace_back(e->d_name);
    closedir(d);
  }
  return names;
}

std::set<std::string> eventNodes() {
  std::set<std::string> nodes;
  for (const std::string& name : entries("/dev/input"))
    if (name.starts_with("event"))
      nodes.insert("/dev/input/" + name);
  return nodes;
}

// Processor time (ns, from schedstat) and context switches of every thread of `pids`.
struct Usage {
  double cpu = 0;
  double switches = 0;
  double preempted = 0;  // nonvoluntary switches, among `switches`
};

Usage usage(const std::vector<pid_t>& pids) {
  Usage total;
  for (const pid_t pid : pids) {
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    for (const std::string& tid : entries(tasks)) {
      std::istringstream schedstat(slurp(tasks + "/" + tid + "/schedstat"));
      double ns = 0;
      schedstat >> ns;
      total.cpu += ns;
      std::istringstream status(slurp(tasks + "/" + tid + "/status"));
      for (std::string line; std::getline(status, line);) {
        long count = 0;
        if (std::sscanf(line.c_str(), "voluntary_ctxt_switches: %ld", &count) == 1) {
          total.switches += static_cast<double>(count);
        } else if (std::sscanf(line.c_str(), "nonvoluntary_ctxt_switches: %ld", &count) == 1) {
          total.switches += static_cast<double>(count);
          total.preempted += static_cast<double>(count);
        }
      }
    }
  }
  return total;
}

pid_t spawn(const std::vector<std::string>& argv, int in = -1, int out = -1, int err = -1) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (in >= 0)
      dup2(in, 0);
    if (out >= 0)
      dup2(out, 1);
    if (err >= 0)
      dup2(err, 2);
    std::vector<char*> args;
    for (const std::string& arg : argv)
      args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    std::fprintf(stderr, "cannot run %s: %s\n", args[0], std::strerror(errno));
    _exit(127);
  }
  return pid;
}

void finish(const std::vector<pid_t>& pids) {
  for (const pid_t pid : pids)
    kill(pid, SIGTERM);
  for (const pid_t pid : pids) {
    int status = 0;
    for (const double until = now() + 2; now() < until; sleepFor(0.01))
      if (waitpid(pid, &status, WNOHANG) == pid)
        goto reaped;
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  reaped:;
  }
}

// One tool under test: its processes and the node of its output device.
struct Running {
  std::vector<pid_t> pids;
  std::string output;
};

struct Tool {
  std::string name;
  // Starts the tool on the pedal; empty pids when it could not start.
  Running (*start)(Pedal& pedal);
};

// Waits until the tool holds the pedal's evdev node and a new input device has appeared: its
// output.
std::string settle(Pedal& pedal, const std::set<std::string>& before, double seconds) {
  for (const double until = now() + seconds; now() < until; sleepFor(0.01)) {
    pedal.pump();
    if (tryGrab(pedal.eventNode) != EBUSY)
      continue;
    for (const std::string& node : eventNodes())
      if (!before.count(node))
        return node;
  }
  return {};
}

Running quillfen(Pedal& pedal) {
  const auto before = eventNodes();
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0)
    return {};
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    const std::string fd = std::to_string(dup(pedal.fd()));
    execl("/proc/self/exe", "guest", "--serve", fd.c_str(), nullptr);
    _exit(127);
  }
  close(out[1]);
  // The child learns the pedal through the shared uhid descriptor; this side answers the
  // kernel's requests meanwhile.
  fcntl(out[0], F_SETFL, O_NONBLOCK);
  std::string said;
  for (const double until = now() + 60; now() < until && said.find('\n') == std::string::npos;
       sleepFor(0.01)) {
    pedal.pump();
    char chunk[128];
    const ssize_t n = read(out[0], chunk, sizeof chunk);
    if (n > 0)
      said.append(chunk, static_cast<std::size_t>(n));
  }
  close(out[0]);
  Running running{{pid}, {}};
  if (!said.starts_with("READY")) {
    info("quillfen did not start: %s", said.c_str());
    finish(running.pids);
    return {};
  }
  running.output = settle(pedal, before, 5);
  return running;
}

Running interception(Pedal& pedal) {
  const auto before = eventNodes();
  int first[2], second[2];
  if (pipe2(first, O_CLOEXEC) != 0 || pipe2(second, O_CLOEXEC) != 0)
    return {};
  Running running;
  running.pids.push_back(
      spawn({peers + "/usr/bin/interception", "-g", pedal.eventNode}, -1, first[1]));
  running.pids.push_back(spawn({"/bin/guest", "--filter"}, first[0], second[1]));
  running.pids.push_back(
      spawn({peers + "/usr/bin/uinput", "-c", peers + "/space.yaml"}, second[0]));
  for (const int fd : {first[0], first[1], second[0], second[1]})
    close(fd);
  running.output = settle(pedal, before, 10);
  return running;
}

Running triggerhappy(Pedal& pedal) {
  const auto before = eventNodes();
  const std::string socket = "/tmp/thd.socket";
  unlink(socket.c_str());
  Running running;
  // thd tells every action it takes on its standard output: to the console, that would cost it
  // more than the action.
  const int quiet = open("/dev/null", O_WRONLY | O_CLOEXEC);
  running.pids.push_back(spawn({peers + "/usr/sbin/thd", "--uinput", "/dev/uinput", "--triggers",
                                peers + "/space.conf", "--socket", socket},
                               -1, quiet, quiet));
  close(quiet);
  for (const double until = now() + 5; now() < until && access(socket.c_str(), F_OK) != 0;)
    sleepFor(0.01);
  const pid_t command =
      spawn({peers + "/usr/sbin/th-cmd", "--socket", socket, "--grab", "--add", pedal.eventNode});
  int status = 0;
  waitpid(command, &status, 0);
  running.output = settle(pedal, before, 10);
  return running;
}

Running floorTool(Pedal& pedal) {
  const auto before = eventNodes();
  Running running;
  running.pids.push_back(spawn({"/bin/guest", "--floor", pedal.eventNode}));
  running.output = settle(pedal, before, 5);
  return running;
}

struct Figures {
  std::vector<double> latencies;  // ms
  double cpu = 0;                 // ns while pressing
  double switches = 0;
  double preempted = 0;  // nonvoluntary switches: the tool was running when taken off
  double roundCpu = 0;   // us per press in the latest round
  int presses = 0;
  double pressing = 0;  // s spent pressing
  double idleCpu = -1;  // ns over the idle period
  double idleSwitches = 0;
  double idleWakeups = 0;       // voluntary switches over the idle period: each is a sleep ended
  std::vector<double> medians;  // of each round
};

double percentile(std::vector<double> values, double p) {
  if (values.empty())
    return 0;
  std::sort(values.begin(), values.end());
  const auto at = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
  return values[std::min(at, values.size() - 1)];
}

bool press(Pedal& pedal, Reader& output, double& latency) {
  const std::uint8_t down[2] = {1, 0};
  const std::uint8_t up[2] = {0, 0};
  const double start = now();
  if (!pedal.send(down))
    return false;
  bool pressed = false;
  while (const auto event = output.next(1))
    if (event->type == EV_KEY && event->code == KEY_SPACE && event->value == 1) {
      pressed = true;
      break;
    }
  latency = (now() - start) * 1000;
  if (!pressed || !pedal.send(up))
    return false;
  while (const auto event = output.next(1))
    if (event->type == EV_KEY && event->code == KEY_SPACE && event->value == 0)
      return true;
  return false;
}

constexpr int pressesPerRound = 250;
constexpr double idleSeconds = 10;
constexpr double gap = 0.004;  // s between a release and the next press

bool round(const Tool& tool, Pedal& pedal, Figures& figures, bool idle) {
  Running running = tool.start(pedal);
  if (running.pids.empty() || running.output.empty()) {
    info("%s: did not start", tool.name.c_str());
    finish(running.pids);
    return false;
  }
  Reader output(running.output);
  sleepFor(0.2);
  output.drain(0.05);
  std::vector<double> latencies;
  const Usage before = usage(running.pids);
  const double begun = now();
  for (int i = 0; i < pressesPerRound; ++i) {
    double latency = 0;
    if (!press(pedal, output, latency)) {
      info("%s: press %d not seen", tool.name.c_str(), i);
      break;
    }
    latencies.push_back(latency);
    sleepFor(gap);
    pedal.pump();
  }
  const Usage after = usage(running.pids);
  figures.pressing += now() - begun;
  if (idle) {
    sleepFor(1);
    const Usage rest = usage(running.pids);
    sleepFor(idleSeconds);
    const Usage rested = usage(running.pids);
    figures.idleCpu = rested.cpu - rest.cpu;
    figures.idleSwitches = rested.switches - rest.switches;
    figures.idleWakeups = (rested.switches - rested.preempted) - (rest.switches - rest.preempted);
  }
  finish(running.pids);
  for (const double until = now() + 2; now() < until && tryGrab(pedal.eventNode) != 0;)
    sleepFor(0.01);
  figures.latencies.insert(figures.latencies.end(), latencies.begin(), latencies.end());
  figures.medians.push_back(percentile(latencies, 0.5));
  figures.roundCpu =
      (after.cpu - before.cpu) / 1e3 / std::max(1, static_cast<int>(latencies.size()));
  figures.cpu += after.cpu - before.cpu;
  figures.switches += after.switches - before.switches;
  figures.preempted += after.preempted - before.preempted;
  figures.presses += static_cast<int>(latencies.size());
  return static_cast<int>(latencies.size()) == pressesPerRound;
}

// strace -c of one thread for as long as `during` runs; returns strace's table.
std::string trace(pid_t tid, const std::function<void()>& during) {
  const std::string file = "/tmp/strace-" + std::to_string(tid);
  const pid_t tracer =
      spawn({peers + "/usr/bin/strace", "-c", "-q", "-o", file, "-p", std::to_string(tid)});
  sleepFor(1);  // attached by then
  during();
  kill(tracer, SIGINT);
  int status = 0;
  waitpid(tracer, &status, 0);
  return slurp(file);
}

// The calls of one system call, or of all ("total"), from strace's table.
double calls(const std::string& table, const std::string& name) {
  std::istringstream lines(table);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::vector<std::string> words;
    for (std::string word; fields >> word;)
      words.push_back(word);
    if (words.size() >= 5 && words.back() == name)
      return std::stod(words[3]);
  }
  return 0;
}

// System calls of Quillfen's worker thread per idle pass and per press.
void systemCalls(Pedal& pedal) {
  Running running = quillfen(pedal);
  if (running.pids.empty() || running.output.empty()) {
    info("quillfen: did not start for strace");
    finish(running.pids);
    return;
  }
  pid_t worker = 0;
  for (const std::string& tid : entries("/proc/" + std::to_string(running.pids[0]) + "/task"))
    if (std::stoi(tid) != running.pids[0])
      worker = std::stoi(tid);
  // Long enough to hold the heartbeat deadlines of a worker that sleeps between them.
  constexpr double idleTraced = 10;
  const std::string idle = trace(worker, [] { sleepFor(idleTraced); });
  info("strace -c of the worker, idle %g s:\n%s", idleTraced, idle.c_str());
  Reader output(running.output);
  constexpr int presses = 200;
  int pressed = 0;
  const std::string active = trace(worker, [&] {
    for (int i = 0; i < presses; ++i) {
      double latency = 0;
      pressed += press(pedal, output, latency) ? 1 : 0;
      sleepFor(gap);
      pedal.pump();
    }
  });
  info("strace -c of the worker, %d presses:\n%s", pressed, active.c_str());
  // Which calls one press makes, one by one.
  const std::string file = "/tmp/strace-press";
  const pid_t tracer =
      spawn({peers + "/usr/bin/strace", "-q", "-o", file, "-p", std::to_string(worker)});
  sleepFor(1);
  double latency = 0;
  press(pedal, output, latency);
  sleepFor(0.1);
  kill(tracer, SIGINT);
  waitpid(tracer, nullptr, 0);
  std::string descriptors;
  const std::string fds = "/proc/" + std::to_string(running.pids[0]) + "/fd";
  for (const std::string& fd : entries(fds)) {
    char target[128] = "";
    const ssize_t n = readlink((fds + "/" + fd).c_str(), target, sizeof target - 1);
    descriptors += " " + fd + "=" + std::string(target, n > 0 ? static_cast<std::size_t>(n) : 0);
  }
  info("strace of the worker, one press and 0.1 s:\n%s\ndescriptors:%s", slurp(file).c_str(),
       descriptors.c_str());
  finish(running.pids);
  const double idlePasses = calls(idle, "epoll_wait");
  const double perPass = idlePasses > 0 ? calls(idle, "total") / idlePasses : 0;
  // Each press is two reports, each handled by one pass that reads it; the other passes of the
  // traced time were idle ones.
  const double reports = 2.0 * pressed;
  const double idleOnes = std::max(0.0, calls(active, "epoll_wait") - reports);
  const double perPress = pressed > 0 ? (calls(active, "total") - idleOnes * perPass) / pressed : 0;
  std::printf(
      "SYSCALLS per idle second %.2f, per idle pass %.2f (%g passes in %g s traced), per press "
      "%.2f (%d presses, two reports each, idle passes between them subtracted)\n",
      calls(idle, "total") / idleTraced, perPass, idlePasses, idleTraced, perPress, pressed);
}

}  // namespace

int serve(int uhid) {
  Harness h;
  // Space on the left pedal, nothing on the others, no click guard: what the peers do.
  if (!activate(h, inherited(uhid),
                Settings(1, {{"left", "space"}, {"middle", "none"}, {"right", "none"}}, "off"),
                "Actions active in the focused app. Guard: off. Keep Quillfen open."))
    return 1;
  std::printf("READY\n");
  std::fflush(stdout);
  // The window's heartbeat: once a second.
  for (;;) {
    sleepFor(1);
    h.pump();
  }
}

int filter() {
  // Unbuffered, one event at a time, like the filters written for interception-tools.
  input_event event{};
  while (read(0, &event, sizeof event) == sizeof event) {
    if (event.type == EV_KEY && event.code == BTN_0)
      event.code = KEY_SPACE;
    if (write(1, &event, sizeof event) != sizeof event)
      return 1;
  }
  return 0;
}

int floorProgram(const char* node) {
  const int in = open(node, O_RDONLY | O_CLOEXEC);
  const int out = open("/dev/uinput", O_WRONLY | O_CLOEXEC);
  if (in < 0 || out < 0 || ioctl(in, EVIOCGRAB, 1) != 0)
    return 1;
  ioctl(out, UI_SET_EVBIT, EV_KEY);
  ioctl(out, UI_SET_KEYBIT, KEY_SPACE);
  uinput_setup setup{};
  setup.id.bustype = BUS_VIRTUAL;
  std::snprintf(setup.name, sizeof setup.name, "Floor output");
  if (ioctl(out, UI_DEV_SETUP, &setup) != 0 || ioctl(out, UI_DEV_CREATE) != 0)
    return 1;
  input_event in64[64];
  for (;;) {
    const ssize_t n = read(in, in64, sizeof in64);
    if (n <= 0)
      return 1;
    for (std::size_t i = 0; i < static_cast<std::size_t>(n) / sizeof(input_event); ++i) {
      if (in64[i].type != EV_KEY || in64[i].code != BTN_0)
        continue;
      input_event events[2]{};
      events[0].type = EV_KEY;
      events[0].code = KEY_SPACE;
      events[0].value = in64[i].value;
      events[1].type = EV_SYN;
      if (write(out, events, sizeof events) != sizeof events)
        return 1;
    }
  }
}

int bench() {
  Virtual mouse(Virtual::Kind::mouse);
  Virtual keyboard(Virtual::Kind::keyboard);
  Pedal pedal("VEC USB Footpedal", "bench/pedal", BUS_USB, pedalDescriptor());
  if (!pedal.ready() || pedal.eventNode.empty()) {
    std::printf("FAIL bench: no uhid pedal\n");
    return 1;
  }
  systemCalls(pedal);

  const Tool tools[] = {{"quillfen", &quillfen},
                        {"interception-tools", &interception},
                        {"triggerhappy", &triggerhappy},
                        {"floor", &floorTool}};
  std::map<std::string, Figures> figures;
  bool complete = true;
  // Interleaved rounds, Quillfen first and last, so that drift shows in its round medians.
  std::vector<const Tool*> order;
  for (int i = 0; i < 4; ++i)
    for (const Tool& tool : tools)
      order.push_back(&tool);
  order.push_back(&tools[0]);
  std::set<std::string> idled;
  for (const Tool* tool : order) {
    const bool idle = idled.insert(tool->name).second;
    complete = round(*tool, pedal, figures[tool->name], idle) && complete;
    info("round of %s: median %.3f ms, %.1f us of processor time per press", tool->name.c_str(),
         figures[tool->name].medians.empty() ? 0.0 : figures[tool->name].medians.back(),
         figures[tool->name].roundCpu);
  }

  // Besides the figures while pressing, the same less what the tool costs idle over as long
  // (its own idle rate): what the presses themselves cost.
  std::printf("\n%-19s %7s %9s %8s %8s %13s %15s %15s %11s %13s %15s\n", "tool", "presses",
              "median_ms", "p99_ms", "max_ms", "cpu_ms/1000pr", "idle_cpu_ms/10s", "idle_wakeups/s",
              "ctxsw/press", "net_cpu_ms/1k", "net_ctxsw/press");
  for (const Tool& tool : tools) {
    const Figures& f = figures[tool.name];
    const double presses = std::max(1, f.presses);
    const double idleCpu = std::max(0.0, f.idleCpu) / idleSeconds * f.pressing;
    const double idleSwitches = f.idleSwitches / idleSeconds * f.pressing;
    std::printf("%-19s %7d %9.3f %8.3f %8.3f %13.1f %15.2f %15.2f %11.2f %13.1f %15.2f\n",
                tool.name.c_str(), f.presses, percentile(f.latencies, 0.5),
                percentile(f.latencies, 0.99), percentile(f.latencies, 1.0),
                f.cpu / 1e6 / presses * 1000, f.idleCpu / 1e6, f.idleWakeups / idleSeconds,
                f.switches / presses, (f.cpu - idleCpu) / 1e6 / presses * 1000,
                (f.switches - idleSwitches) / presses);
  }
  for (const Tool& tool : tools) {
    const Figures& f = figures[tool.name];
    const double presses = std::max(1, f.presses);
    info("%s: %.2f of %.2f switches per press preempted it; %.2f ms per press cycle",
         tool.name.c_str(), f.preempted / presses, f.switches / presses,
         f.pressing / presses * 1000);
  }
  std::string medians;
  for (const double median : figures["quillfen"].medians)
    medians += " " + std::to_string(median).substr(0, 5);
  std::printf("quillfen round medians (ms), first to last:%s\n", medians.c_str());
  std::printf("%s kernel benchmark\n", complete ? "PASS" : "FAIL");
  return complete ? 0 : 1;
}

}  // namespace kerneltest
