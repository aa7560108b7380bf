#!/bin/sh
# Runs one Windows program under the build's private Wine prefix.
#   wine-run.sh <prefix> <program.exe> [arguments...]
# Wine's helper processes inherit the first client's stdout and stderr and would hold the test
# runner's pipes open until the wineserver exits, so the program writes into files that are
# printed afterwards. One wineserver is kept alive between programs to make each start cheap.
prefix=$1
shift
export WINEPREFIX="$prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="
/usr/lib/wine/wineserver -p60 >/dev/null 2>&1 </dev/null
out=$(mktemp) || exit 1
err=$(mktemp) || exit 1
/usr/lib/wine/wine64 "$@" >"$out" 2>"$err"
rc=$?
cat "$out"
cat "$err" >&2
rm -f "$out" "$err"
exit $rc
