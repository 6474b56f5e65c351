#!/usr/bin/env bash
# The packages: cmake --install of the Linux tools into a fresh prefix, and the Windows zip made
# by CPack, each checked for its contents and for programs that start and tell the version
# that res/version.h gives.
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
  share/doc/fwload/fault-matrix.md; do
  [ -f "$work/prefix/$f" ] || fail "cmake --install did not install $f"
done
got=$("$work/prefix/bin/fwload-cli" --version)
[[ $got == "fwload-cli $version "* ]] || fail "installed fwload-cli --version: $got"
"$work/prefix/bin/fwgen" --model 5 -o "$work/a.mot"
"$work/prefix/bin/fwload-cli" identify "$work/a.mot" >/dev/null || fail "installed fwload-cli"

# The .deb: what cmake --install installs, plus the man page, completion, udev rule and the
# maintainer scripts; extracted, its fwload-cli runs and its man page renders.
(cd "$native" && cpack -G DEB -B "$work/deb" >/dev/null)
deb=$(find "$work/deb" -maxdepth 1 -name "fwload_${version}-1_*.deb" | head -n 1)
if [ -z "$deb" ]; then
  fail "no fwload_${version}-1_<arch>.deb"
else
  dpkg-deb -x "$deb" "$work/debroot"
  for f in usr/bin/fwload-cli usr/bin/fwscanner usr/bin/fwgen usr/share/doc/fwload/README.md \
    usr/share/man/man1/fwload-cli.1.gz usr/share/bash-completion/completions/fwload-cli \
    usr/lib/udev/rules.d/60-fwload.rules; do
    [ -f "$work/debroot/$f" ] || fail ".deb does not hold $f"
  done
  got=$("$work/debroot/usr/bin/fwload-cli" --version)
  [[ $got == "fwload-cli $version "* ]] || fail "packaged fwload-cli --version: $got"
  "$work/debroot/usr/bin/fwload-cli" identify "$work/a.mot" >/dev/null || fail "packaged identify"
  page=$(MANWIDTH=100 man -l "$work/debroot/usr/share/man/man1/fwload-cli.1.gz" 2>&1)
  for section in SYNOPSIS "EXIT STATUS" FILES EXAMPLES; do
    grep -q "^$section" <<<"$page" || fail "the man page has no $section"
  done
  grep -q '130' <<<"$page" || fail "the man page does not give exit status 130"
  # The completion offers the models the packaged fwload-cli lists.
  got=$(PATH="$work/debroot/usr/bin:$PATH" bash -c 'source /usr/share/bash-completion/bash_completion
    source "$1"
    COMP_WORDS=(fwload-cli info --emulate hvs36); COMP_CWORD=3
    COMP_LINE="fwload-cli info --emulate hvs36"; COMP_POINT=${#COMP_LINE}
    _fwload_cli fwload-cli hvs36 --emulate; echo "${COMPREPLY[*]}"' _ \
    "$work/debroot/usr/share/bash-completion/completions/fwload-cli")
  [ "$got" = "hvs3600 hvs3600-pre hvs3600-plain" ] || fail "completion of --emulate: $got"
  control=$(dpkg-deb -I "$deb")
  grep -q '^ Maintainer: ' <<<"$control" || fail ".deb has no maintainer"
  mkdir "$work/control"
  dpkg-deb -e "$deb" "$work/control"
  for script in postinst postrm; do
    [ -x "$work/control/$script" ] && sh -n "$work/control/$script" || fail ".deb $script"
  done
fi

(cd "$win" && cpack -G ZIP >/dev/null)
bits=32
[ -f "$win/fwload-$version-win64.zip" ] && bits=64
zip=$win/fwload-$version-win$bits.zip
[ -f "$zip" ] || fail "no $zip"
mkdir "$work/zip"
(cd "$work/zip" && unzip -q "$zip")
listing=$(cd "$work/zip" && find . -type f | sort | tr '\n' ' ')
[ "$listing" = "./README.md ./fwload-cli.exe ./fwload.exe " ] || fail "zip holds: $listing"
got=$("$ROOT/scripts/lib/wine-run" "$work/zip/fwload-cli.exe" --version | tr -d '\r')
[[ $got == "fwload-cli $version "* ]] || fail "zipped fwload-cli.exe --version: $got"
winpath() { printf 'Z:%s' "${1//\//\\}"; }
XDG_CONFIG_HOME=$work/config "$ROOT/scripts/lib/wine-run" "$work/zip/fwload-cli.exe" identify \
  "$(winpath "$work/a.mot")" >/dev/null || fail "zipped fwload-cli.exe identify"
# The version record of the zipped dialog program (its file version, 4 x 16 bits).
if ! od -A n -t x1 "$work/zip/fwload.exe" | tr -d ' \n' | grep -q "bd04effe"; then
  fail "zipped fwload.exe has no version record"
fi
[ $status = 0 ] && echo "packages: fwload-$version ok"
exit $status
