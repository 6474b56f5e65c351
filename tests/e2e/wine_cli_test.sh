#!/usr/bin/env bash
# fwload-cli.exe under Wine prints what the native fwload-cli prints, for every model code,
# and converts to the same bytes.
# Usage: wine_cli_test.sh NATIVE_CLI WINDOWS_CLI FWGEN
set -euo pipefail
native=$1 windows=$2 fwgen=$3
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
# A command that stops the script says which it was and where, not only the exit status.
trap 'echo "wine_cli_test.sh:$LINENO: exit $? from: $BASH_COMMAND" >&2' ERR
# One Wine server for the whole script (as the dialog tests keep one): without it each program
# starts a server and its services, which hold the output pipe until that server ends, and the
# next program meets a server on its way out.
WINEPREFIX=$("$ROOT/scripts/lib/wine-prefix")
export WINEPREFIX
"$ROOT/scripts/lib/wine-run" cmd /c exit </dev/null >/dev/null 2>&1
wineserver -k || true
wineserver -w
wineserver -p </dev/null >/dev/null 2>&1
"$ROOT/scripts/lib/wine-run" cmd /c exit </dev/null >/dev/null 2>&1
trap 'wineserver -k || true; rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work/config
winpath() { printf 'Z:%s' "${1//\//\\}"; }
status=0
for model in 1 2 3 4 5 6 7 8; do
  "$fwgen" --model "$model" --seed "$model" -o "$work/m$model.mot"
  expected=$("$native" identify "$work/m$model.mot")
  got=$("$ROOT/scripts/lib/wine-run" "$windows" identify "$(winpath "$work/m$model.mot")" | tr -d '\r')
  if [ "$expected" != "$got" ]; then
    echo "model $model: identify differs"; diff <(echo "$expected") <(echo "$got") || true
    status=1
  fi
  "$native" convert "$work/m$model.mot" -o "$work/native$model.sum" >/dev/null
  "$ROOT/scripts/lib/wine-run" "$windows" convert "$(winpath "$work/m$model.mot")" \
    -o "$(winpath "$work/win$model.sum")" >/dev/null
  if ! cmp -s "$work/native$model.sum" "$work/win$model.sum"; then
    echo "model $model: convert output differs"; status=1
  fi
done
# The emulated scanner in process (a thread of its own completes the requests).
# Each transfer is recorded in the history without a warning (the record flushed to the disk);
# a line cut short there takes nothing of the next record with it. (This is Wine's file system
# behaviour, which need not be Windows' in every respect.)
"$fwgen" --model 5 -o "$work/t5.mot"
history=$(winpath "$work/history.jsonl")
for turn in 1 2; do
  if ! "$ROOT/scripts/lib/wine-run" "$windows" transfer "$(winpath "$work/t5.mot")" --emulate hvs3600 \
    --log "$history" >"$work/t.out" 2>"$work/t.err"; then
    echo "transfer --emulate failed: $(cat "$work/t.err")"; status=1
  fi
  if grep -q warning "$work/t.err"; then echo "transfer $turn: $(cat "$work/t.err")"; status=1; fi
  [ "$turn" = 1 ] && printf '{"time": "cut short' >>"$work/history.jsonl"
done
got=$("$ROOT/scripts/lib/wine-run" "$windows" history --log "$history" --json 2>"$work/h.err" | tr -d '\r')
if [ "$(grep -c '"result":"verified"' <<<"$got")" != 2 ] || ! grep -q 'line 3 is damaged' "$work/h.err"; then
  echo "history under Wine: $got $(cat "$work/h.err")"; status=1
fi
expected=$("$native" info --emulate m3160fb)
got=$("$ROOT/scripts/lib/wine-run" "$windows" info --emulate m3160fb | tr -d '\r')
if [ "$expected" != "$got" ]; then
  echo "info differs"; diff <(echo "$expected") <(echo "$got") || true; status=1
fi
# A failure reaches the console as "Caption: Text" and exit status 1.
printf 'S1030000FC\r\n' >"$work/bad.mot"
set +e
err=$("$ROOT/scripts/lib/wine-run" "$windows" identify "$(winpath "$work/bad.mot")" 2>&1 >/dev/null | tr -d '\r')
rc=$?
set -e
if [ "$rc" != 1 ] || [ "$err" != "LineRead Error: First Char is not 'S'!" ]; then
  echo "bad file: exit $rc, stderr '$err'"; status=1
fi
# Which SCSI manager: the one beside the program (the emulated scanner's test library) when
# it loads; with no manager and no pass-through port, one line gives each route's reason.
got=$(FWLOAD_EMULATE=hvs3600 "$ROOT/scripts/lib/wine-run" "$windows" scan --aspi | tr -d '\r')
if ! grep -q '^SCSI through the ASPI manager WNASPI32.DLL$' <<<"$got" ||
   ! grep -q '^0:3  type 6  ORVEL     HV Scanner 3600   1.00  supported scanner$' <<<"$got"; then
  echo "scan --aspi: $got"; status=1
fi
set +e
err=$(WINEDLLOVERRIDES="mscoree,mshtml=;wnaspi32=d" "$ROOT/scripts/lib/wine-run" "$windows" scan 2>&1 >/dev/null | tr -d '\r')
rc=$?
set -e
expected="fwload-cli: no SCSI manager can be used: ASPI manager WNASPI32.DLL: Module not found; Windows SCSI pass-through: no adapter (there is no port \\\\.\\Scsi0: to \\\\.\\Scsi31:)
Source Message: Load Library error !!"
if [ "$rc" != 1 ] || [ "$err" != "$expected" ]; then
  echo "scan without a manager: exit $rc, stderr '$err'"; status=1
fi
[ "$status" = 0 ] && echo "fwload-cli.exe matches fwload-cli for models 1-8"
exit $status
