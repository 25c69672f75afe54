#!/usr/bin/env bash
# Fetches Debian's kernel package through apt and unpacks it into <dir>: the kernel the kernel test
# boots and the modules its guest loads, with the modules they depend on. Usage: fetch-kernel.sh
# <dir>. Does nothing when <dir> already holds it with these modules.
set -euo pipefail
dir=$1
# HID, uhid, evdev and uinput; and a USB HID gadget on the dummy host controller, seen through
# usbhid.
modules=(hid uhid hid-generic evdev uinput dummy_hcd libcomposite usb_f_hid usbhid)
if [ -f "$dir/version" ] && [ -f "$dir/boot/vmlinuz-$(cat "$dir/version")" ] &&
  [ "$(cat "$dir/modules" 2>/dev/null)" = "${modules[*]}" ]; then
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
tree=$work/root/lib/modules/$version
rm -rf "$dir/boot" "$dir/lib" "$dir/modules"
mkdir -p "$dir/boot"
cp "$work/root/boot/vmlinuz-$version" "$dir/boot/"
# Only the modules the guest loads are kept, and those they depend on (the "depends=" of each
# module's .modinfo; a module name writes - and _ alike).
wanted=("${modules[@]}")
kept=()
while [ ${#wanted[@]} -gt 0 ]; do
  name=${wanted[0]}
  wanted=("${wanted[@]:1}")
  path=$(find "$tree/kernel" -name "$(sed 's/[-_]/[-_]/g' <<<"$name").ko" | head -n 1)
  if [ -z "$path" ]; then
    echo "the kernel package has no module $name" >&2
    exit 1
  fi
  case " ${kept[*]} " in *" $path "*) continue ;; esac
  kept+=("$path")
  depends=$(tr '\0' '\n' <"$path" | sed -n 's/^depends=//p' | tr ',' ' ')
  for dependency in $depends; do wanted+=("$dependency"); done
done
for path in "${kept[@]}"; do
  module=${path#"$tree/"}
  mkdir -p "$dir/lib/modules/$version/$(dirname "$module")"
  cp "$path" "$dir/lib/modules/$version/$module"
done
echo "$version" >"$dir/version"
echo "${modules[*]}" >"$dir/modules"
