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

(cd "$win" && cpack >/dev/null)
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
