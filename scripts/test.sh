#!/usr/bin/env bash
# Builds and runs every test: the optimised build, the sanitizer builds (AddressSanitizer with
# UndefinedBehaviorSanitizer, then ThreadSanitizer), the bounded libFuzzer runs, then the macOS
# cross build and its checks. Stops at the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh test
for preset in dev asan tsan fuzz; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  if [ "$preset" = tsan ] && command -v setarch >/dev/null; then
    # GCC 12's ThreadSanitizer cannot map its shadow memory under the wide address-space
    # randomisation of newer kernels; running without randomisation works on every kernel.
    setarch "$(uname -m)" -R ctest --preset "$preset"
  else
    ctest --preset "$preset"
  fi
done
bash scripts/macos-cross.sh
