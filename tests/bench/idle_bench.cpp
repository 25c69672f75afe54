// The processor time the worker takes while a pedal is captured and nothing happens: its passes
// with the watchdog, every 20 ms. The benchmark's own thread sleeps meanwhile, so the process's
// processor time is the worker's.

#include <benchmark/benchmark.h>
#include <time.h>

#include "rig.h"

namespace {

double processSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

void IdleCapturedWorker(benchmark::State& state) {
  Rig rig(true);
  double busy = 0;
  double wall = 0;
  std::uint64_t passes = 0;
  for (auto _ : state) {
    const auto runs = sim::runs();
    const double cpu = processSeconds();
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    busy += processSeconds() - cpu;
    passes += sim::runs() - runs;
  }
  state.counters["cpu_percent_of_core"] = 100 * busy / wall;
  state.counters["passes_per_s"] = static_cast<double>(passes) / wall;
}

BENCHMARK(IdleCapturedWorker)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
