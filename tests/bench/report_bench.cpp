// From an input report handed to the pedal until its key events are posted, through the worker
// thread's run loop: the median and the 99th percentile of the presses.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

#include "rig.h"

namespace {

void ReportToPostedEvents(benchmark::State& state) {
  Rig rig(true);
  std::vector<double> micros;
  for (auto _ : state) {
    const auto before = sim::postedCount();
    const auto start = std::chrono::steady_clock::now();
    sim::deliver(rig.id, {1, 0});
    while (sim::postedCount() < before + 2) {
    }
    const auto end = std::chrono::steady_clock::now();
    micros.push_back(std::chrono::duration<double, std::micro>(end - start).count());
    state.PauseTiming();
    sim::deliver(rig.id, {0, 0});
    while (!sim::settled()) {
    }
    state.ResumeTiming();
  }
  std::sort(micros.begin(), micros.end());
  const auto at = [&](double share) {
    return micros[static_cast<std::size_t>(share * static_cast<double>(micros.size() - 1))];
  };
  state.counters["median_us"] = at(0.5);
  state.counters["p99_us"] = at(0.99);
}

BENCHMARK(ReportToPostedEvents)->Iterations(2000)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
