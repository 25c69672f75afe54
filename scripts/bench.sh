#!/usr/bin/env bash
# Builds the optimised preset and runs the benchmarks of the hot paths. Arguments go to Google
# Benchmark, e.g. --benchmark_filter=Policy.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh test
cmake --preset dev >/dev/null
cmake --build --preset dev --target quillfen_bench
exec build/dev/tests/bench/quillfen_bench "$@"
