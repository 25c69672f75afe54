#!/usr/bin/env bash
# Reads executables of the macOS cross build with llvm-otool and fails unless each is one a Mac
# with macOS 13 or later on arm64 loads: a 64-bit arm64 Mach-O executable, built for the macOS
# platform with minimum system 13.0, with a code signature. With --program it also requires the
# frameworks and libraries the program links, by their system install names, and with llvm-nm the
# backend's, the platform layer's, the window core's and the AppKit front end's code inside it.
# Usage: check.sh OTOOL NM [--program] EXECUTABLE...
set -euo pipefail
otool=$1 nm=$2
shift 2
program=false
if [ "${1:-}" = --program ]; then
  program=true
  shift
fi
[ $# -gt 0 ] || { echo "check.sh: no executable given" >&2; exit 2; }

status=0
fail() {
  echo "$file: $*" >&2
  status=1
  good=false
}

for file in "$@"; do
  good=true
  if [ ! -f "$file" ]; then
    fail "missing"
    continue
  fi
  header=$("$otool" -hv "$file")
  grep -Eq '^ *MH_MAGIC_64 +ARM64 .* EXECUTE ' <<<"$header" || fail "not an arm64 Mach-O executable"

  commands=$("$otool" -l "$file")
  # The fields of the build-version command, as "platform macos minos 13.0".
  build=$(awk '/cmd LC_BUILD_VERSION/ { on = 1; next }
               on && /^ *cmd / { on = 0 }
               on && ($1 == "platform" || $1 == "minos") { printf "%s %s ", $1, $2 }' <<<"$commands")
  [ "$build" = "platform macos minos 13.0 " ] || fail "build version is '${build}', not macOS 13.0"
  grep -Eq '^ *cmd LC_CODE_SIGNATURE$' <<<"$commands" || fail "no code signature"

  if $program; then
    libraries=$("$otool" -L "$file")
    frameworks=/System/Library/Frameworks
    for name in $frameworks/AppKit.framework/Versions/C/AppKit \
                $frameworks/Foundation.framework/Versions/C/Foundation \
                $frameworks/IOKit.framework/Versions/A/IOKit \
                $frameworks/CoreFoundation.framework/Versions/A/CoreFoundation \
                $frameworks/CoreGraphics.framework/Versions/A/CoreGraphics \
                $frameworks/ApplicationServices.framework/Versions/A/ApplicationServices \
                /usr/lib/libobjc.A.dylib; do
      grep -Fq "	$name (" <<<"$libraries" || fail "not linked against $name"
    done
    # What the link must have brought in: the whole capture backend, the platform, the window
    # core, and the AppKit front end's classes, the window's among them (an Objective-C class
    # that nothing names by symbol is silently left out of a static library's link).
    symbols=$("$nm" --defined-only --demangle "$file")
    for symbol in 'Backend::inspect()' 'Backend::activate(bool)' 'platform::tapCreate(' \
                  'platform::deviceOpen(' 'App::launch()' 'runWindow(int, char**)' \
                  '_OBJC_CLASS_$_Delegate' '_OBJC_CLASS_$_Window' '_OBJC_CLASS_$_ContentStack'; do
      grep -Fq "$symbol" <<<"$symbols" || fail "does not contain $symbol"
    done
    used=$("$nm" --undefined-only "$file")
    for symbol in NSWindow NSScrollView NSStackView NSPopUpButton NSTimer NSWorkspace \
                  NSDistributedNotificationCenter NSProcessInfo; do
      grep -Fq "_OBJC_CLASS_\$_$symbol" <<<"$used" || fail "does not use $symbol"
    done
  fi
  ! $good || echo "$file: arm64 Mach-O executable for macOS 13.0, signed"
done
exit $status
