#include "core/clock.h"

#include <atomic>
#include <chrono>

namespace {

double systemUptime() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

std::atomic<UptimeSource> source{&systemUptime};

}  // namespace

double milliseconds() {
  return source.load(std::memory_order_relaxed)() * 1000.0;
}

void setUptimeSource(UptimeSource next) {
  source.store(next != nullptr ? next : &systemUptime, std::memory_order_relaxed);
}
