// The click guard's decision for one mouse-button event.

#include <benchmark/benchmark.h>

#include "core/policy.h"

namespace {

// A down and its up in turn; the guard is armed for the first half of each second, so both
// verdicts occur.
void PolicyReject(benchmark::State& state) {
  Policy policy;
  policy.scope = "all";
  double now = 0;
  bool down = true;
  for (auto _ : state) {
    if (down && static_cast<long>(now) % 1000 == 0)
      policy.arm(now);
    benchmark::DoNotOptimize(policy.reject(1, down, now));
    down = !down;
    now += 1;
  }
}

BENCHMARK(PolicyReject);

// The guard off: the decision every click gets while actions run without a guard scope.
void PolicyRejectOff(benchmark::State& state) {
  Policy policy;
  double now = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(policy.reject(0, true, now));
    now += 1;
  }
}

BENCHMARK(PolicyRejectOff);

}  // namespace
