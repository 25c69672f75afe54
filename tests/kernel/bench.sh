#!/usr/bin/env bash
# The peers benchmark: in one boot of the kernel test's virtual machine, the same uhid pedal and
# the same presses go through Quillfen, interception-tools (interception -g | a filter mapping the
# pedal's button to KEY_SPACE | uinput), triggerhappy (thd --uinput, the pedal added with th-cmd
# --grab) and a floor (one process blocking on the grabbed node, writing one uinput event), in
# interleaved rounds. Prints Quillfen's system calls per idle second, per idle pass and per press
# (strace -c of its worker thread) and one table row per tool, with its wake-ups per idle second.
# The peers and strace come from Debian's archive with apt-get download, unpacked under
# build/kernel-bench; nothing is installed. Not part of ctest.
#
# With --icount (software emulation only), the machine's clock counts the instructions it runs,
# 2 ns each, instead of following the host's: processor times become instruction counts, the same
# on every run, whatever else loads the host, and blind to what the emulator itself spends.
set -euo pipefail
icount=
if [ "${1:-}" = --icount ]; then
  icount=shift=1,sleep=off
fi
cd "$(dirname "$0")/../.."
bash scripts/deps.sh test
cmake --preset dev >/dev/null
cmake --build --preset dev --target kernel_guest

work=$PWD/build/kernel-bench
debs=$work/debs unpacked=$work/unpacked stage=$work/stage
mkdir -p "$debs"
packages=(interception-tools triggerhappy libyaml-cpp0.7 libevdev2 strace libunwind8)
for package in "${packages[@]}"; do
  ls "$debs/${package}"_*.deb >/dev/null 2>&1 || (cd "$debs" && apt-get download -q "$package")
done
rm -rf "$unpacked" "$stage"
for deb in "$debs"/*.deb; do dpkg-deb -x "$deb" "$unpacked"; done

# The tools, their configuration, and every shared library they load, at the paths the loader
# looks in (libraries from the unpacked packages move to the same place under /).
mkdir -p "$stage/peers"
for tool in usr/bin/interception usr/bin/uinput usr/sbin/thd usr/sbin/th-cmd usr/bin/strace; do
  mkdir -p "$stage/peers/$(dirname $tool)"
  cp "$unpacked/$tool" "$stage/peers/$tool"
  libraries=$(LD_LIBRARY_PATH="$unpacked/usr/lib/x86_64-linux-gnu:$unpacked/lib/x86_64-linux-gnu" \
    ldd "$unpacked/$tool")
  if grep -q 'not found' <<<"$libraries"; then
    echo "$tool: a library is missing: $libraries" >&2
    exit 1
  fi
  for library in $(grep -o '/[^ ]*' <<<"$libraries"); do
    target=${library#"$unpacked"}
    mkdir -p "$stage$(dirname "$target")"
    cp -L "$library" "$stage$target"
  done
done
printf 'NAME: Peer output\nEVENTS:\n  EV_KEY: [KEY_SPACE]\n' >"$stage/peers/space.yaml"
printf 'BTN_0 1 <KEY_SPACE\n' >"$stage/peers/space.conf"

QUILLFEN_KERNEL_ICOUNT=$icount QUILLFEN_KERNEL_EXTRA=$stage \
  QUILLFEN_KERNEL_TIMEOUT=${QUILLFEN_KERNEL_TIMEOUT:-1500} \
  bash tests/kernel/run.sh build/dev/tests/kernel/kernel_guest build/kernel "$work/guest" \
  --bench --qemu-exit
