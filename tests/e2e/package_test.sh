#!/usr/bin/env bash
# The packages: cmake --install of the Linux tools into a fresh prefix; the two .debs CPack
# makes, each passed by Debian's own checker (lintian) and taken apart: their programs start and
# tell the version res/version.h gives, the man pages render, the completion answers, and the
# maintainer scripts run against stand-ins for the system's group and udev tools; and the
# Windows zip, with its checksums.
# Usage: package_test.sh NATIVE_BUILD WIN_BUILD
set -euo pipefail
native=$(cd "$1" && pwd) win=$(cd "$2" && pwd)
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A command that stops the script says which it was and where, not only the exit status.
trap 'echo "package_test.sh:$LINENO: exit $? from: $BASH_COMMAND" >&2' ERR
version=$(sed -n 's/^#define FWLOAD_VERSION_TEXT "\(.*\)"$/\1/p' "$ROOT/res/version.h")
status=0
fail() { echo "package: $*"; status=1; }

cmake --install "$native" --prefix "$work/prefix" >/dev/null
for f in bin/fwload-cli bin/fwscanner bin/fwgen share/doc/fwload/README.md \
  share/doc/fwload/fault-matrix.md share/doc/fwload/copyright; do
  [ -f "$work/prefix/$f" ] || fail "cmake --install did not install $f"
done
got=$("$work/prefix/bin/fwload-cli" --version)
[[ $got == "fwload-cli $version "* ]] || fail "installed fwload-cli --version: $got"
"$work/prefix/bin/fwgen" --model 5 -o "$work/a.mot"
"$work/prefix/bin/fwload-cli" identify "$work/a.mot" >/dev/null || fail "installed fwload-cli"

(cd "$native" && cpack -G DEB -B "$work/deb" >/dev/null)
deb=$work/deb/fwload_${version}-1_$(dpkg --print-architecture).deb
emulator=$work/deb/fwload-emulator_${version}-1_$(dpkg --print-architecture).deb
for package in "$deb" "$emulator"; do
  if [ ! -f "$package" ]; then
    fail "no $(basename "$package")"
    continue
  fi
  # Debian's checker: no error and no warning (overrides only where a tag is wrong here, each
  # with its reason, in packaging/lintian-overrides).
  if ! out=$(lintian --fail-on error,warning --no-tag-display-limit "$package" 2>&1); then
    fail "lintian on $(basename "$package"):"$'\n'"$out"
  fi
done
[ "$status" = 0 ] || exit "$status"

# fwload: the tool, its man page, completion, udev rule and documents; linked with Debian's
# libraries, stripped, and nothing of the emulator.
dpkg-deb -x "$deb" "$work/debroot"
for f in usr/bin/fwload-cli usr/share/doc/fwload/README.md usr/share/doc/fwload/copyright \
  usr/share/doc/fwload/changelog.Debian.gz usr/share/man/man1/fwload-cli.1.gz \
  usr/share/bash-completion/completions/fwload-cli usr/lib/udev/rules.d/60-fwload.rules; do
  [ -f "$work/debroot/$f" ] || fail "fwload.deb does not hold $f"
done
for f in usr/bin/fwscanner usr/bin/fwgen; do
  [ -e "$work/debroot/$f" ] && fail "fwload.deb holds $f"
done
got=$("$work/debroot/usr/bin/fwload-cli" --version)
[[ $got == "fwload-cli $version "* ]] || fail "packaged fwload-cli --version: $got"
"$work/debroot/usr/bin/fwload-cli" identify "$work/a.mot" >/dev/null || fail "packaged identify"
file "$work/debroot/usr/bin/fwload-cli" | grep -q 'dynamically linked' ||
  fail "packaged fwload-cli is not linked dynamically"
page=$(MANWIDTH=100 man -l "$work/debroot/usr/share/man/man1/fwload-cli.1.gz" 2>&1)
for section in SYNOPSIS "EXIT STATUS" FILES EXAMPLES; do
  grep -q "^$section" <<<"$page" || fail "the man page has no $section"
done
grep -q '130' <<<"$page" || fail "the man page does not give exit status 130"
grep -q 'transfers.jsonl' <<<"$page" || fail "the man page does not name the transfer history"
# The completion offers the models the packaged fwload-cli lists.
got=$(PATH="$work/debroot/usr/bin:$PATH" bash -c 'source /usr/share/bash-completion/bash_completion
  source "$1"
  COMP_WORDS=(fwload-cli info --emulate hvs36); COMP_CWORD=3
  COMP_LINE="fwload-cli info --emulate hvs36"; COMP_POINT=${#COMP_LINE}
  _fwload_cli fwload-cli hvs36 --emulate; echo "${COMPREPLY[*]}"' _ \
  "$work/debroot/usr/share/bash-completion/completions/fwload-cli")
[ "$got" = "hvs3600 hvs3600-pre hvs3600-plain" ] || fail "completion of --emulate: $got"
dpkg-deb -f "$deb" Depends | grep -q libnettle ||
  fail "fwload.deb does not depend on the library it links: $(dpkg-deb -f "$deb" Depends)"

# Its maintainer scripts, with stand-ins for getent, addgroup, groupadd and udevadm that log
# their calls (no group is made on this machine): configure creates the system group scanner
# once, however often it runs, and reloads and re-triggers udev; remove reloads udev.
mkdir -p "$work/control" "$work/fakes"
dpkg-deb -e "$deb" "$work/control"
calls=$work/calls
for tool in getent addgroup groupadd udevadm; do
  cat >"$work/fakes/$tool" <<FAKE
#!/bin/sh
echo "$tool \$*" >>"$calls"
case "$tool \$1 \$2" in
  "getent group scanner") [ -f "$work/group-made" ] ;;
  "addgroup --system scanner") touch "$work/group-made" ;;
esac
FAKE
  chmod +x "$work/fakes/$tool"
done
run_script() { env -i PATH="$work/fakes:/usr/bin:/bin" sh "$work/control/$1" "$2"; }
run_script postinst configure && run_script postinst configure || fail "postinst configure"
expected="getent group scanner
addgroup --system scanner
udevadm control --reload-rules
udevadm trigger --subsystem-match=scsi_generic
getent group scanner
udevadm control --reload-rules
udevadm trigger --subsystem-match=scsi_generic"
[ "$(cat "$calls")" = "$expected" ] || fail "postinst configure called:"$'\n'"$(cat "$calls")"
: >"$calls"
run_script postrm remove || fail "postrm remove"
[ "$(cat "$calls")" = "udevadm control --reload-rules" ] ||
  fail "postrm remove called:"$'\n'"$(cat "$calls")"

# fwload-emulator: fwscanner and fwgen with their man pages; it does not need fwload.
dpkg-deb -x "$emulator" "$work/emuroot"
for f in usr/bin/fwscanner usr/bin/fwgen usr/share/man/man1/fwscanner.1.gz \
  usr/share/man/man1/fwgen.1.gz usr/share/doc/fwload-emulator/copyright \
  usr/share/doc/fwload-emulator/changelog.Debian.gz; do
  [ -f "$work/emuroot/$f" ] || fail "fwload-emulator.deb does not hold $f"
done
dpkg-deb -f "$emulator" Depends | grep -q fwload && fail "fwload-emulator depends on fwload"
[ "$("$work/emuroot/usr/bin/fwscanner" --version)" = "fwscanner $version" ] ||
  fail "packaged fwscanner --version"
MANWIDTH=100 man -l "$work/emuroot/usr/share/man/man1/fwscanner.1.gz" 2>&1 | grep -q -- '--pace' ||
  fail "fwscanner's man page does not describe --pace"

# The Windows zip: the two programs, the README, the licence and the programs' checksums.
(cd "$win" && cpack -G ZIP >/dev/null)
bits=32
[ -f "$win/fwload-$version-win64.zip" ] && bits=64
zip=$win/fwload-$version-win$bits.zip
[ -f "$zip" ] || fail "no $zip"
mkdir "$work/zip"
(cd "$work/zip" && unzip -q "$zip")
listing=$(cd "$work/zip" && find . -type f | sort | tr '\n' ' ')
[ "$listing" = "./LICENSE ./README.md ./SHA256SUMS ./fwload-cli.exe ./fwload.exe " ] ||
  fail "zip holds: $listing"
(cd "$work/zip" && sha256sum --quiet -c SHA256SUMS) || fail "the zip's SHA256SUMS do not match"
[ "$(wc -l <"$work/zip/SHA256SUMS")" = 2 ] || fail "SHA256SUMS: $(cat "$work/zip/SHA256SUMS")"
got=$("$ROOT/scripts/lib/wine-run" "$work/zip/fwload-cli.exe" --version | tr -d '\r')
[[ $got == "fwload-cli $version "* ]] || fail "zipped fwload-cli.exe --version: $got"
winpath() { printf 'Z:%s' "${1//\//\\}"; }
XDG_CONFIG_HOME=$work/config "$ROOT/scripts/lib/wine-run" "$work/zip/fwload-cli.exe" identify \
  "$(winpath "$work/a.mot")" >/dev/null || fail "zipped fwload-cli.exe identify"
# The version record of the zipped dialog program (its file version, 4 x 16 bits).
if ! od -A n -t x1 "$work/zip/fwload.exe" | tr -d ' \n' | grep -q "bd04effe"; then
  fail "zipped fwload.exe has no version record"
fi
[ $status = 0 ] && echo "packages: fwload-$version and fwload-emulator-$version ok (lintian clean)"
exit $status
