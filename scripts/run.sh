#!/usr/bin/env bash
# Builds the program and starts it. Until the window exists, that is the self-test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh run
cmake --preset dev >/dev/null
cmake --build --preset dev --target quillfen
exec build/dev/app/quillfen --self-test "$@"
