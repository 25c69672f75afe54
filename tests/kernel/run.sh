#!/usr/bin/env bash
# Boots Debian's kernel under qemu with a busybox initramfs holding <guest> (and the shared
# libraries it needs) and reports the guest's verdict. Usage: run.sh <guest> <kernel-dir> <work>
# [guest arguments...]. Exits 0 when the guest passed, 1 when it failed or hung, and 77 (a skip)
# when this machine cannot run the test: no qemu, no static busybox, or no kernel to be had.
set -uo pipefail
guest=$1 kernel=$2 work=$3
shift 3
here=$(cd "$(dirname "$0")" && pwd)

qemu=$(command -v qemu-system-x86_64) || { echo "SKIP: qemu-system-x86_64 is not installed"; exit 77; }
busybox=/bin/busybox
[ "$(dpkg-query -W -f='${Status}' busybox-static 2>/dev/null)" = "install ok installed" ] ||
  { echo "SKIP: busybox-static is not installed"; exit 77; }
bash "$here/fetch-kernel.sh" "$kernel" || { echo "SKIP: no kernel package to boot"; exit 77; }
version=$(cat "$kernel/version")

rm -rf "$work"
root=$work/root
mkdir -p "$root"/{bin,dev,proc,sys,lib/modules}
cp "$busybox" "$root/bin/busybox"
cp "$here/init" "$root/init"
cp "$guest" "$root/bin/guest"
echo "$*" >"$root/arguments"
# quillfen-access, when given (QUILLFEN_KERNEL_ACCESS), built to serve /bin/guest.
programs=("$guest")
if [ -n "${QUILLFEN_KERNEL_ACCESS:-}" ]; then
  cp "$QUILLFEN_KERNEL_ACCESS" "$root/bin/quillfen-access"
  programs+=("$QUILLFEN_KERNEL_ACCESS")
fi
# The programs are linked dynamically (libudev is shared only): copy their libraries and the
# loader to the same paths.
for library in $(for program in "${programs[@]}"; do ldd "$program"; done | grep -o '/[^ ]*' | sort -u); do
  mkdir -p "$root$(dirname "$library")"
  cp -L "$library" "$root$library"
done
cp -r "$kernel/lib/modules/$version" "$root/lib/modules/"
# More files for the guest (the peers benchmark's tools and their libraries), laid out as in /.
if [ -n "${QUILLFEN_KERNEL_EXTRA:-}" ]; then
  cp -a "$QUILLFEN_KERNEL_EXTRA/." "$root/"
fi
"$root/bin/busybox" depmod -b "$root" "$version"
# Every file root's and writable by root alone, whoever builds the archive and whatever their
# umask: the helper serves only a program, and code, that root alone may change.
chmod -R go-w "$root"
(cd "$root" && find . | "$root/bin/busybox" cpio -o -H newc -R 0:0 2>/dev/null | gzip -1) \
  >"$work/initramfs.gz"

# QUILLFEN_KERNEL_ACCEL=tcg runs without KVM, as machines without it do, even where it is there.
if [ "${QUILLFEN_KERNEL_ACCEL:-}" != tcg ] && [ -w /dev/kvm ] && grep -qE '\b(vmx|svm)\b' /proc/cpuinfo; then
  accel=(-accel kvm -cpu host)
else
  # QUILLFEN_KERNEL_ICOUNT, when set, is qemu's -icount: a clock driven by the instructions run.
  accel=(-accel tcg -cpu max ${QUILLFEN_KERNEL_ICOUNT:+-icount "$QUILLFEN_KERNEL_ICOUNT"})
fi
echo "INFO qemu ${accel[*]}"
# The guest reports through isa-debug-exit: writing v to port 0xf4 ends qemu with (v << 1) | 1,
# so 1 is a pass and 3 a failure; 0 means the guest powered off without a verdict, 124 a hang.
timeout "${QUILLFEN_KERNEL_TIMEOUT:-300}" "$qemu" "${accel[@]}" -m 512M -smp 1 -nodefaults \
  -no-user-config -display none -serial stdio -no-reboot \
  -device isa-debug-exit,iobase=0xf4,iosize=0x04 -kernel "$kernel/boot/vmlinuz-$version" \
  -initrd "$work/initramfs.gz" -append "console=ttyS0 panic=-1 quiet" >"$work/guest.log" 2>&1
status=$?
cat "$work/guest.log"
if [ $status -eq 1 ] && grep -qE '^PASS kernel (test|benchmark)' "$work/guest.log" &&
  ! grep -q '^FAIL' "$work/guest.log"; then
  exit 0
fi
echo "kernel test failed: qemu exit status $status"
exit 1
