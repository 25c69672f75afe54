#!/usr/bin/env bash
# Fetches Debian's kernel package through apt and unpacks it into <dir>: the kernel the kernel test
# boots and the modules its guest loads. Usage: fetch-kernel.sh <dir>. Does nothing when <dir>
# already holds it.
set -euo pipefail
dir=$1
if [ -f "$dir/version" ] && [ -f "$dir/boot/vmlinuz-$(cat "$dir/version")" ]; then
  exit 0
fi
version=$(apt-cache depends linux-image-amd64 2>/dev/null |
  awk '/Depends: linux-image-[0-9]/{sub("linux-image-", "", $2); print $2; exit}')
if [ -z "$version" ]; then
  echo "apt knows no linux-image-amd64 package" >&2
  exit 1
fi
mkdir -p "$dir"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && apt-get download -q "linux-image-$version" >/dev/null 2>&1) || {
  echo "apt-get download linux-image-$version failed" >&2
  exit 1
}
dpkg-deb -x "$work"/linux-image-"${version}"_*.deb "$work/root"
rm -rf "$dir/boot" "$dir/lib"
mkdir -p "$dir/boot"
cp "$work/root/boot/vmlinuz-$version" "$dir/boot/"
# Only the modules the guest loads are kept.
for module in drivers/hid/hid.ko drivers/hid/uhid.ko drivers/hid/hid-generic.ko \
  drivers/input/evdev.ko drivers/input/misc/uinput.ko; do
  mkdir -p "$dir/lib/modules/$version/kernel/$(dirname $module)"
  cp "$work/root/lib/modules/$version/kernel/$module" "$dir/lib/modules/$version/kernel/$module"
done
echo "$version" >"$dir/version"
