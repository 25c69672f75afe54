#!/usr/bin/env bash
# Builds the program and opens its window. On a machine without a display it runs the startup
# check on Qt's offscreen platform instead, writes the window's picture and says where.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh run
cmake --preset dev >/dev/null
cmake --build --preset dev --target quillfen
program=build/dev/app/quillfen
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] || [ -n "${QT_QPA_PLATFORM:-}" ]; then
  exec "$program" "$@"
fi
picture="$PWD/build/dev/quillfen-window.png"
echo "No display found: running the startup check offscreen instead."
QT_QPA_PLATFORM=offscreen QUILLFEN_MAC_UI_SCREENSHOT="$picture" "$program" --ui-test "$@"
if [ -f "$picture" ]; then
  echo "The window's picture: $picture"
fi
