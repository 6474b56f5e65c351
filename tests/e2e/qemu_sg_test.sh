#!/usr/bin/env bash
# fwload-cli against a real kernel SCSI stack: Debian's kernel boots under QEMU (software
# emulation) from an initramfs of static busybox and the statically linked fwload-cli; the sg
# driver and scsi_debug, posing as an HV Scanner 3600, put a real /dev/sg0 behind sysfs and
# SG_IO. Checks: info and scan find the scanner (scan, as a user without rights, says why
# not); a transfer reaches WRITE BUFFER and reports the device's own sense (scsi_debug raises
# UNIT ATTENTION 3F/16 after every mode-5 WRITE BUFFER, so its download cannot complete); a
# user without rights on /dev/sg0 is told why; a command that outlives the request bound is
# abandoned and the CLI ends at once while the kernel holds it.
# Usage: qemu_sg_test.sh FWLOAD_CLI FWGEN
set -euo pipefail
cli=$(realpath "$1") fwgen=$(realpath "$2")
. "$(dirname "$0")/lib/guest.sh"
guest_kernel
work=$(mktemp -d)
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
root=$work/root
mkdir -p "$root"/{bin,modules,etc,dev,proc,sys,tmp}
cp /bin/busybox "$root/bin/busybox"
cp "$cli" "$root/bin/fwload-cli"
"$fwgen" --model 5 -o "$root/five.mot"

# The two modules and what they need, each after its dependencies.
add_module sg
add_module scsi_debug

printf 'root:x:0:0::/:/bin/sh\ntech:x:1000:1000::/tmp:/bin/sh\n' >"$root/etc/passwd"
printf 'root:x:0:\ndisk:x:6:\ntech:x:1000:\n' >"$root/etc/group"
cat >"$root/init" <<EOF
$guest_init_head
for m in ${module_order[*]}; do
  if [ \$m = scsi_debug ]; then
    insmod /modules/\$m.ko ptype=6 'inq_vendor="ORVEL   "' 'inq_product="HV Scanner 3600 "' inq_rev=2.10
  else
    insmod /modules/\$m.ko
  fi
done
for i in \$(seq 100); do [ -e /dev/sg0 ] && break; sleep 0.1; done
chown root:disk /dev/sg0
chmod 660 /dev/sg0
export XDG_CONFIG_HOME=/tmp
# The console's reset sequences end before the first marker's line.
echo
echo "== info"; fwload-cli info 2>&1; echo "== rc \$?"
echo "== scan"; fwload-cli scan 2>&1; echo "== rc \$?"
echo "== transfer"; fwload-cli transfer /five.mot 2>&1; echo "== rc \$?"
echo "== userscan"; su -s /bin/sh -c 'XDG_CONFIG_HOME=/tmp fwload-cli scan' tech 2>&1; echo "== rc \$?"
echo "== user"; su -s /bin/sh -c 'XDG_CONFIG_HOME=/tmp fwload-cli info' tech 2>&1; echo "== rc \$?"
# 2500 jiffies at 250 Hz: every TEST UNIT READY takes 10 s (INQUIRY is answered at once); the
# bound gives up on each after 0.2 s, and the readiness loop ends after 11 of them.
echo 2500 >/sys/bus/pseudo/drivers/scsi_debug/delay
start=\$(date +%s)
echo "== bound"; FWLOAD_REQUEST_BOUND_MS=200 fwload-cli transfer /five.mot 2>&1; echo "== rc \$?"
echo "== seconds \$((\$(date +%s) - start))"
echo "== done"
poweroff -f
EOF
chmod +x "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$work/initrd.gz"

timeout 300 qemu-system-x86_64 -accel tcg -cpu max -m 512 -nographic -no-reboot \
  -kernel "$kernel" -initrd "$work/initrd.gz" -append "console=ttyS0 quiet panic=-1" \
  </dev/null >"$work/console.txt" 2>&1 || true
out=$(tr -d '\r' <"$work/console.txt")

status=0
fail() { echo "qemu_sg: $*"; status=1; }
# The lines between "== NAME" and the next marker.
section() { printf '%s\n' "$out" | sed -n "/^== $1\$/,/^== rc/p" | sed '1d;$d'; }
rc() { printf '%s\n' "$out" | sed -n "/^== $1\$/,/^== rc/p" | sed -n 's/^== rc //p'; }

grep -q '^== done' <<<"$out" || { printf '%s\n' "$out" | tail -n 40; fail "the guest did not finish"; }
info=$(section info)
[ "$(rc info)" = 0 ] || fail "info exit $(rc info): $info"
grep -q 'Products ID : *HV Scanner 3600' <<<"$info" || fail "info did not find the scanner: $info"
grep -q 'Current SCSI Host ID : *#0' <<<"$info" || fail "info host row: $info"

scan=$(section scan)
grep -q '^0:0  type 6  ORVEL     HV Scanner 3600   2.10  supported scanner  /dev/sg0$' <<<"$scan" ||
  fail "scan: $scan"
userscan=$(section userscan)
grep -q "^0:0  /dev/sg0 cannot be opened: Permission denied" <<<"$userscan" ||
  fail "scan as a user without rights: $userscan"

transfer=$(section transfer)
[ "$(rc transfer)" = 1 ] || fail "transfer exit $(rc transfer): $transfer"
grep -qi '=6, 3f, 16 H' <<<"$transfer" || fail "transfer did not report UNIT ATTENTION 3F/16: $transfer"
grep -q 'Transferred' <<<"$transfer" && fail "transfer reported success: $transfer"

user=$(section user)
[ "$(rc user)" = 1 ] || fail "info as a user without rights: exit $(rc user): $user"
grep -q "^fwload-cli: /dev/sg0 cannot be opened: Permission denied; add your user to the group 'disk'" \
  <<<"$user" || fail "no access hint for the user: $user"

bound=$(section bound)
seconds=$(printf '%s\n' "$out" | sed -n 's/^== seconds //p')
[ "$(rc bound)" = 1 ] || fail "transfer past the bound: exit $(rc bound): $bound"
grep -q 'Source Message: Scanner is busy.' <<<"$bound" || fail "transfer past the bound: $bound"
grep -q 'WRITE\|Transferred' <<<"$bound" && fail "transfer past the bound went on: $bound"
[ -n "$seconds" ] && [ "$seconds" -lt 9 ] || fail "transfer past the bound took ${seconds:-?} s"

[ $status = 0 ] && echo "qemu_sg: info, transfer, access hint and bound against a real sg device: ok"
exit $status
