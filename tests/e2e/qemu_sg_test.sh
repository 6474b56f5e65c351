#!/usr/bin/env bash
# fwload-cli against a real kernel SCSI stack: Debian's kernel boots under QEMU (software
# emulation) from an initramfs of static busybox, the statically linked fwload-cli and
# fwscanner. fwscanner --scsi puts emulated scanners behind the kernel's SCSI target (a TCMU
# backstore each, exported through the loopback port tcm_loop), so that the sg driver attaches
# them as type-6 devices and fwload-cli reaches them through /dev/sgN and SG_IO as it would on a
# real adapter; scsi_debug poses only as what a scanner cannot: a disk of a supported vendor,
# which discovery passes over. In the guest:
#   1. two healthy scanners: a complete transfer verified, transfer --all with both, scan; info,
#      set-default and serial-number as a user with read and write on the nodes, and a user
#      without them told why;
#   2. faulty scanners: not ready; a CHECK CONDITION on a block (the retry passes); a block the
#      scanner holds (the kernel fails it after its 30 s command time-out, the next pass
#      completes) and a held commit (its sense message), both at once; Ctrl-C while sending; a
#      request that outlives fwload-cli's bound is given up while the kernel holds it;
#   3. fwscanner ends on SIGTERM and leaves nothing in configfs.
# Usage: qemu_sg_test.sh FWLOAD_CLI FWSCANNER FWGEN
set -euo pipefail
cli=$(realpath "$1") fwscanner=$(realpath "$2") fwgen=$(realpath "$3")
. "$(dirname "$0")/lib/guest.sh"
guest_kernel
work=$(mktemp -d)
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
root=$work/root
mkdir -p "$root"/{bin,modules,etc,dev,proc,sys,tmp}
cp /bin/busybox "$root/bin/busybox"
cp "$cli" "$root/bin/fwload-cli"
cp "$fwscanner" "$root/bin/fwscanner"
"$fwgen" --model 5 --version 1.10 -o "$root/five.mot"

# The modules and what they need, each after its dependencies.
for m in sg scsi_debug target_core_user tcm_loop; do add_module "$m"; done

printf 'root:x:0:0::/:/bin/sh\ntech:x:1000:1000::/tmp:/bin/sh\nguest:x:1001:1001::/tmp:/bin/sh\n' \
  >"$root/etc/passwd"
printf 'root:x:0:\ndisk:x:6:tech\ntech:x:1000:\nguest:x:1001:\n' >"$root/etc/group"
cat >"$root/init" <<EOF
$guest_init_head
for m in ${module_order[*]}; do
  if [ \$m = scsi_debug ]; then
    insmod /modules/\$m.ko ptype=0 'inq_vendor="ORVEL   "' 'inq_product="Service Disk    "'
  else
    insmod /modules/\$m.ko
  fi
done
mount -t configfs none /sys/kernel/config
export XDG_CONFIG_HOME=/tmp XDG_STATE_HOME=/tmp
start() {  # the scanners; waits until the kernel has attached each, gives their nodes to disk
  fwscanner "\$@" --log /tmp/scanner.log >/tmp/scanners 2>&1 &
  scanners=\$!
  for i in \$(seq 200); do [ "\$(grep -c /dev/sg /tmp/scanners)" = \$((\$# / 2)) ] && break; sleep 0.05; done
  for sg in \$(awk '{ print \$2 }' /tmp/scanners); do chown root:disk \$sg; chmod 660 \$sg; done
  host=\$(awk 'NR == 1 { split(\$3, a, ":"); print a[1] }' /tmp/scanners)
}
stop() { kill -TERM \$scanners; wait \$scanners; echo "== rc \$?"; }
# A section: "== NAME", what the command printed (stderr is no terminal: no progress bars),
# "== rc STATUS".
run() {
  name=\$1
  shift
  echo "== \$name"
  "\$@" >/tmp/out 2>&1
  rc=\$?
  cat /tmp/out
  echo "== rc \$rc"
}
# The console's reset sequences end before the first marker's line.
echo
t0=\$(date +%s)
start --scsi hvs3600:target=3,sn=SN-3 --scsi hvs3600:target=4,sn=SN-4
echo "== attached"; cat /tmp/scanners; echo "== rc 0"
run transfer fwload-cli transfer /five.mot --verify
run all fwload-cli transfer /five.mot --all --verify
run scan fwload-cli scan
as_tech() { su -s /bin/sh -c "XDG_CONFIG_HOME=/tmp XDG_STATE_HOME=/tmp \$*" tech 2>&1; }
echo "== tech"; as_tech fwload-cli info --target \$host:3 && as_tech fwload-cli set-default us --target \$host:3 &&
  as_tech fwload-cli serial-number SN-77 --target \$host:4 && as_tech fwload-cli serial-number --target \$host:4
echo "== rc \$?"
echo "== guest"; su -s /bin/sh -c 'XDG_CONFIG_HOME=/tmp fwload-cli info' guest 2>&1; echo "== rc \$?"
echo "== guestscan"; su -s /bin/sh -c 'XDG_CONFIG_HOME=/tmp fwload-cli scan' guest 2>&1; echo "== rc \$?"
echo "== stop"; stop
echo "== seconds1 \$((\$(date +%s) - t0))"

start --scsi hvs3600:target=1,notready=11 --scsi hvs3600:target=2,block=2@1 \\
  --scsi hvs3600:target=5,hangblock=3 --scsi hvs3600:target=6,hang=commit \\
  --scsi hvs3600:target=7,latency=100 --scsi hvs3600:target=3,latency=10000
t1=\$(date +%s)
held() {  # TARGET FILE: a transfer in the background, its output, seconds and exit status
  fwload-cli transfer /five.mot --target \$host:\$1 >\$2 2>&1
  rc=\$?
  echo "== seconds \$((\$(date +%s) - t1))" >>\$2
  echo "== rc \$rc" >>\$2
}
held 5 /tmp/held-block &
held_block=\$!
held 6 /tmp/held-commit &
held_commit=\$!
run notready fwload-cli transfer /five.mot --target \$host:1
run block fwload-cli transfer /five.mot --target \$host:2 --verify
echo "== ctrlc"; fwload-cli transfer /five.mot --target \$host:7 >/tmp/out 2>&1 &
sleep 2; kill -INT \$!; t=\$(date +%s); wait \$!; rc=\$?; cat /tmp/out; echo "== rc \$rc"
echo "== ctrlcseconds \$((\$(date +%s) - t))"
# Every request takes 10 s at that scanner; the bound gives the search's INQUIRY up after 0.2 s,
# while the kernel still holds it.
t=\$(date +%s)
FWLOAD_REQUEST_BOUND_MS=200 run bound fwload-cli transfer /five.mot --target \$host:3
echo "== boundseconds \$((\$(date +%s) - t))"
wait \$held_block \$held_commit
echo "== heldblock"; cat /tmp/held-block
echo "== heldcommit"; cat /tmp/held-commit
echo "== stop2"; stop
echo "== configfs"; ls /sys/kernel/config/target/core /sys/kernel/config/target/loopback 2>&1; echo "== rc 0"
echo "== kernel"; dmesg | grep -i -E 'tcmu|tcm_loop|target|sg|abort|timing out' | tail -n 20; echo "== rc 0"
echo "== log"; grep -E 'HANGS|HELD|ABORTED|COMMIT' /tmp/scanner.log; echo "== rc 0"
echo "== seconds \$((\$(date +%s) - t0))"
echo "== done"
poweroff -f
EOF
chmod +x "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$work/initrd.gz"

begin=$(date +%s)
timeout 300 qemu-system-x86_64 -accel tcg -cpu max -m 1024 -nographic -no-reboot \
  -kernel "$kernel" -initrd "$work/initrd.gz" -append "console=ttyS0 quiet panic=-1" \
  </dev/null >"$work/console.txt" 2>&1 || true
end=$(date +%s)
out=$(tr -d '\r' <"$work/console.txt")
[ -n "${KEEP:-}" ] && echo "qemu_sg: console in $work/console.txt"

status=0
fail() { echo "qemu_sg: $*"; status=1; }
# The lines between "== NAME" and the next "== rc".
section() { printf '%s\n' "$out" | sed -n "/^== $1\$/,/^== rc/p" | sed '1d;$d'; }
rc() { printf '%s\n' "$out" | sed -n "/^== $1\$/,/^== rc/p" | sed -n 's/^== rc //p' | tail -n 1; }
value() { printf '%s\n' "$out" | sed -n "s/^== $1 //p" | tail -n 1; }

grep -q '^== done' <<<"$out" || { printf '%s\n' "$out" | tail -n 60; fail "the guest did not finish"; }
attached=$(section attached)
host=$(awk 'NR == 1 { split($3, a, ":"); print a[1] }' <<<"$attached")
grep -q "^hvs3600 /dev/sg[0-9]* $host:0:3:0\$" <<<"$attached" || fail "attached: $attached"
grep -q "^hvs3600 /dev/sg[0-9]* $host:0:4:0\$" <<<"$attached" || fail "attached: $attached"

transfer=$(section transfer)
[ "$(rc transfer)" = 0 ] || fail "transfer exit $(rc transfer): $transfer"
grep -q "^Verified: the scanner reports Mecha-Control Unit Version 1.10, the file's version.\$" \
  <<<"$transfer" || fail "transfer not verified: $transfer"
all=$(section all)
[ "$(rc all)" = 0 ] || fail "transfer --all exit $(rc all): $all"
[ "$(grep -cE '^[0-9]+:[34] +HV Scanner 3600 +SN-[34] .* verified$' <<<"$all")" = 2 ] ||
  fail "transfer --all: $all"
scan=$(section scan)
grep -q "^$host:3  type 6  ORVEL     HV Scanner 3600   1.00  supported scanner  /dev/sg" <<<"$scan" ||
  fail "scan: $scan"
grep -q "^0:0  type 0  ORVEL     Service Disk .* -  /dev/sg0\$" <<<"$scan" || fail "scan, the disk: $scan"

tech=$(section tech)
[ "$(rc tech)" = 0 ] || fail "info, set-default, serial-number as a user with rights: $tech"
grep -q 'Products ID : *HV Scanner 3600' <<<"$tech" || fail "info as a user: $tech"
grep -q 'Serial Number : " *SN-77"' <<<"$tech" || fail "serial-number as a user: $tech"
guest=$(section guest)
[ "$(rc guest)" = 1 ] || fail "info as a user without rights: exit $(rc guest): $guest"
grep -q "cannot be opened: Permission denied; add your user to the group 'disk'" <<<"$guest" ||
  fail "no access hint for the user: $guest"
guestscan=$(section guestscan)
grep -q "^$host:3  /dev/sg[0-9]* cannot be opened: Permission denied" <<<"$guestscan" ||
  fail "scan as a user without rights: $guestscan"
[ "$(rc stop)" = 0 ] || fail "fwscanner's exit on SIGTERM: $(rc stop)"

notready=$(section notready)
[ "$(rc notready)" = 1 ] || fail "not ready: exit $(rc notready): $notready"
grep -q 'Scanner Message: Scanner is not ready.' <<<"$notready" || fail "not ready: $notready"
block=$(section block)
[ "$(rc block)" = 0 ] || fail "a block failing once: exit $(rc block): $block"
grep -q '^Verified' <<<"$block" || fail "a block failing once: $block"
ctrlc=$(section ctrlc)
[ "$(rc ctrlc)" = 130 ] || fail "Ctrl-C while sending: exit $(rc ctrlc): $ctrlc"
[ "$(value ctrlcseconds)" -le 1 ] || fail "Ctrl-C took $(value ctrlcseconds) s"
bound=$(section bound)
[ "$(rc bound)" = 1 ] || fail "transfer past the bound: exit $(rc bound): $bound"
grep -q 'Scanner Error: No Target Device !!' <<<"$bound" || fail "transfer past the bound: $bound"
[ "$(value boundseconds)" -lt 9 ] || fail "transfer past the bound took $(value boundseconds) s"

held_block=$(section heldblock)
[ "$(rc heldblock)" = 0 ] || fail "a held block: exit $(rc heldblock): $held_block"
grep -q 'Transferred' <<<"$held_block" || fail "a held block: $held_block"
held_seconds=$(sed -n 's/^== seconds //p' <<<"$held_block")
[ "${held_seconds:-0}" -ge 30 ] || fail "a held block took ${held_seconds:-?} s: $held_block"
held_commit=$(section heldcommit)
[ "$(rc heldcommit)" = 1 ] || fail "a held commit: exit $(rc heldcommit): $held_commit"
grep -q '2, 08, 00 H' <<<"$held_commit" || fail "a held commit's sense: $held_commit"
[ "$(rc stop2)" = 0 ] || fail "fwscanner's exit on SIGTERM: $(rc stop2)"
configfs=$(section configfs)
grep -q 'user_73\|naa.5001405fbad5ca00' <<<"$configfs" && fail "configfs after fwscanner: $configfs"

printf 'qemu_sg: guest %s s in all (healthy scanners %s s), boot to poweroff %s s\n' \
  "$(value seconds)" "$(value seconds1)" "$((end - begin))"
echo "qemu_sg: held block: $(sed -n 's/^== seconds //p' <<<"$held_block") s; held commit: $(sed -n 's/^== seconds //p' <<<"$held_commit") s"
echo "qemu_sg: what the kernel logged:"; section kernel | sed 's/^/  /'
echo "qemu_sg: what the scanners logged of held and aborted commands:"; section log | sed 's/^/  /'
[ $status = 0 ] && echo "qemu_sg: complete downloads and the scanner's faults through the kernel's SCSI stack: ok"
exit $status
