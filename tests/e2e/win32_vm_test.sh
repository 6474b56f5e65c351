#!/usr/bin/env bash
# The 32-bit Windows programs we ship, run for real where this machine's kernel runs no 32-bit
# programs: Debian's kernel (which does) boots under QEMU (software emulation) with this
# machine's root file system shared read-only over virtio-9p, 32-bit Wine laid over it
# (scripts/lib/win32-wine-root: Debian's wine32 unpacked), a tmpfs taking the writes, and a
# chroot into it all. There, under 32-bit Wine: the 32-bit win_unit program (the request block's
# run-time layout test among its tests), the Windows CLI script against the 32-bit
# fwload-cli.exe, and fwload.exe's scenarios of a SCSI transfer, a serial transfer over a
# pseudo-terminal mapped to COM1, About over SCSI and the Command dialog. The guest's results
# come back through a writable share; a guest that does not boot or hangs is a failure with its
# console log.
#
# Where 32-bit Wine runs here (scripts/lib/wine-arch) the other Windows tests run the 32-bit
# build already: skipped (exit 77) unless FWLOAD_WIN32_VM=1. The win32 Wine prefix is made once (some four
# minutes under emulation) and kept in build/win32-vm/prefix.
# Usage: win32_vm_test.sh NATIVE_BUILD WIN32_BUILD
set -euo pipefail
native=$(cd "$1" && pwd) win32=$(cd "$2" && pwd)
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
if [ "$("$ROOT/scripts/lib/wine-arch")" = win32 ] && [ "${FWLOAD_WIN32_VM:-}" != 1 ]; then
  echo "win32_vm: skipped: 32-bit Wine runs here, and the Windows tests run the" \
    "32-bit build already (FWLOAD_WIN32_VM=1 runs the guest all the same)"
  exit 77
fi
# How many times longer than on this machine the tests' waits and bounds are in the guest.
factor=${FWLOAD_WIN32_VM_TIME_FACTOR:-8}
begin=$(date +%s)
cache=$ROOT/build/win32-vm
mkdir -p "$cache"
"$ROOT/scripts/lib/win32-wine-root" "$cache/i386" >/dev/null
# A prefix kept from another Wine is made again.
if ! cmp -s "$cache/i386/.packages" "$cache/prefix/.wine-packages" 2>/dev/null; then
  rm -rf "$cache/prefix"
fi
run=$cache/run
rm -rf "$run" "$cache/initramfs"
mkdir -p "$run/artifacts"
status=0
fail() { echo "win32_vm: $*"; status=1; }

# The dialog scenarios the guest runs, by name: each must be found and pass.
gui_tests=GuiScsi.TransferCompletes:GuiSerial.TransferOverCom1:Gui.AboutAndCommandWithAScanner
gui_tests+=:Gui.OptionSwitchAboutAndCommandWithoutAScanner

# The guest's work, in the chroot (the paths are this machine's: its root is shared).
cat >"$run/guest.sh" <<EOF
#!/bin/bash
set -u
cd "$ROOT"
export HOME=/tmp/home PATH=/usr/sbin:/usr/bin:/sbin:/bin
mkdir -p "\$HOME"
export FWLOAD_WINEARCH=win32 FWLOAD_TIME_FACTOR=$factor FWLOAD_E2E_ARTIFACTS="$run/artifacts"
# Where the kernel runs 32-bit programs, the 32-bit loader answers, and install-deps' probe of
# the kernel says so.
/lib/ld-linux.so.2 --version >/dev/null 2>&1 || echo "no 32-bit loader" >"$run/setup.err"
scripts/lib/kernel-runs-32bit || echo "scripts/lib/kernel-runs-32bit says this kernel runs no 32-bit programs" >>"$run/setup.err"
ldconfig
step() {  # NAME COMMAND...: output in NAME.log, exit status in NAME.rc, seconds in times
  local name=\$1 start=\$(date +%s)
  shift
  "\$@" >"$run/\$name.log" 2>&1
  echo \$? >"$run/\$name.rc"
  echo "\$name \$((\$(date +%s) - start))" >>"$run/times"
}
# The prefix: a copy in memory of the one kept from an earlier run (read over the share once,
# not at every turn), or a new one, kept.
if [ -f "$cache/prefix/system.reg" ]; then
  step prefix cp -a "$cache/prefix" /tmp/prefix
  export FWLOAD_WINEPREFIX=/tmp/prefix
else
  export FWLOAD_WINEPREFIX=/tmp/prefix
  step prefix scripts/lib/wine-run cmd /c exit
  wineserver -w
  [ "\$(cat "$run/prefix.rc")" = 0 ] && cp -a /tmp/prefix "$run/prefix"
fi
export WINEPREFIX=\$FWLOAD_WINEPREFIX
step server scripts/lib/wine-run cmd /c exit
step win_unit scripts/lib/with-xvfb scripts/lib/wine-run "$win32/tests/win/fwload_win_tests.exe" \\
  --gtest_brief=1
step win_cli tests/e2e/wine_cli_test.sh "$native/fwload-cli" "$win32/fwload-cli.exe" \\
  "$native/tools/fwgen/fwgen"
step gui scripts/lib/with-xvfb "$native/tests/e2e/fwload_gui_tests_win32" --gtest_brief=1 \\
  --gtest_filter=$gui_tests
wineserver -k 2>/dev/null
echo done >"$run/done"
EOF

# The initramfs: busybox, the modules for the shares and the overlay, and an init that mounts
# them, lays the tmpfs over them, and runs the guest's work in a chroot.
root=$cache/initramfs
mkdir -p "$root"/{bin,dev,proc,sys,host,i386,share,rw,newroot}
cp /bin/busybox "$root/bin/busybox"
. "$ROOT/tests/e2e/lib/guest.sh"
guest_kernel
for m in virtio_pci 9pnet_virtio 9p overlay; do add_module "$m"; done
cat >"$root/init" <<EOF
$guest_init_head
for m in ${module_order[*]}; do insmod /modules/\$m.ko; done
o=trans=virtio,version=9p2000.L,msize=512000
mount -t 9p -o \$o,ro,cache=loose host /host
mount -t 9p -o \$o,ro,cache=loose i386 /i386
mount -t 9p -o \$o share /share
# The tmpfs takes every write, /tmp's too (the checkout may be there).
mount -t tmpfs -o size=6g tmpfs /rw
mkdir -p /rw/upper /rw/work
mount -t overlay overlay -o lowerdir=/i386:/host,upperdir=/rw/upper,workdir=/rw/work /newroot
mount -t proc proc /newroot/proc
mount -t sysfs sysfs /newroot/sys
mount -t devtmpfs devtmpfs /newroot/dev
mkdir -p /newroot/dev/pts /newroot/dev/shm
mount -t devpts devpts /newroot/dev/pts
mount -t tmpfs tmpfs /newroot/dev/shm
mount --bind /share /newroot$run
echo "== guest up"
chroot /newroot /bin/bash $run/guest.sh
echo "== guest done"
poweroff -f
EOF
chmod +x "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$cache/initrd.gz"

# SMAP off: with it, the guest kernel ends every 32-bit Wine process (an oops on an iret in
# 32-bit code under software emulation).
boot=$(date +%s)
timeout "${FWLOAD_WIN32_VM_SECONDS:-840}" qemu-system-x86_64 -accel tcg,thread=multi -smp 2 \
  -cpu max,smap=off -m 8G -nographic -no-reboot -kernel "$kernel" -initrd "$cache/initrd.gz" \
  -append "console=ttyS0 quiet panic=-1" \
  -virtfs local,path=/,mount_tag=host,security_model=none,readonly=on,multidevs=remap \
  -virtfs local,path="$cache/i386",mount_tag=i386,security_model=none,readonly=on \
  -virtfs local,path="$run",mount_tag=share,security_model=none \
  </dev/null >"$run/console.txt" 2>&1 || true
end=$(date +%s)

if [ -d "$run/prefix" ]; then
  rm -rf "$cache/prefix"
  mv "$run/prefix" "$cache/prefix"
  cp "$cache/i386/.packages" "$cache/prefix/.wine-packages"
fi
mkdir -p "$native/e2e-artifacts"
for shot in "$run"/artifacts/*.png; do
  [ -e "$shot" ] && cp "$shot" "$native/e2e-artifacts/win32-$(basename "$shot")"
done
if [ ! -f "$run/done" ]; then
  echo "win32_vm: the guest did not finish (console below)"
  tr -d '\r' <"$run/console.txt" | tail -n 40
  for log in "$run"/*.log; do [ -e "$log" ] && { echo "== $log"; tail -n 20 "$log"; }; done
  exit 1
fi
[ -f "$run/setup.err" ] && fail "$(cat "$run/setup.err")"
for part in win_unit win_cli gui; do
  rc=$(cat "$run/$part.rc" 2>/dev/null || echo none)
  if [ "$rc" != 0 ]; then
    fail "$part: exit $rc"
    tail -n 60 "$run/$part.log"
  fi
done
# A filter that names no test runs none and passes: the counts must be the ones asked for.
passed() { sed -n 's/.*\[  PASSED  \] \([0-9]*\) tests*\..*/\1/p' "$run/$1.log" | tail -n 1; }
want=$(tr ':' '\n' <<<"$gui_tests" | wc -l)
[ "$(passed gui)" = "$want" ] || fail "gui: $(passed gui) tests passed of the $want named"
[ "$(passed win_unit)" -gt 0 ] 2>/dev/null || fail "win_unit: no test passed"
echo "win32_vm: guest $((end - boot)) s in all ($(tr '\n' ' ' <"$run/times")), test" \
  "$((end - begin)) s"
[ $status = 0 ] && echo "win32_vm: the 32-bit programs under 32-bit Wine in the guest: ok"
exit $status
