// A capture stopped from inside the pedal's own report, then started again at once.

#include <cerrno>
#include <cstring>

#include "tests/kernel/checks.h"
#include "tests/kernel/devices.h"

namespace kerneltest {

void restartAfterRefusedReport(Harness& h, const std::string& line, const Raw& raw,
                               const std::string& node, const char* step) {
  const std::uint8_t refused[2] = {0xFF, 0xFF};
  const std::uint8_t released[2] = {0, 0};
  std::string seen;
  const bool stopped = h.inspect(line) && h.run([](Backend& b) { b.start(true); }, started) &&
                       raw(refused) &&
                       h.await("Input or action validation failed. Capture stopped.", 3, &seen);
  // Start as soon as the inspection has answered, as a quick click would.
  const bool inspected = h.inspect(line);
  const bool restarted = h.run([](Backend& b) { b.start(true); }, started);
  h.run([](Backend& b) { b.stop("Stopped."); }, "Stopped.");
  raw(released);
  const int grab = tryGrab(node);
  check(stopped && inspected && restarted && grab == 0, step,
        "stopped %d %s; inspected %d, restarted %d; grab afterwards: %s", stopped, seen.c_str(),
        inspected, restarted, grab ? strerrorname_np(grab) : "succeeded");
}

}  // namespace kerneltest
