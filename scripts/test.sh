#!/usr/bin/env bash
# Builds and runs every test: the optimised build, the sanitizer build (AddressSanitizer and
# UndefinedBehaviorSanitizer), then the bounded libFuzzer runs. Stops at the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh test
for preset in dev asan fuzz; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
