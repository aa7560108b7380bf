#!/bin/sh
# Creates the build's private Wine prefix (once) and points its UNC root at the build's share tree.
#   wine-prefix.sh <prefix> <unc-dir>
set -eu
prefix=$1
unc=$2
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$unc"
if [ ! -f "$prefix/system.reg" ]; then
    mkdir -p "$prefix"
    /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1 </dev/null
    /usr/lib/wine/wineserver -w
fi
mkdir -p "$prefix/dosdevices"
if [ "$(readlink "$prefix/dosdevices/unc" 2>/dev/null || true)" != "$unc" ]; then
    rm -rf "$prefix/dosdevices/unc"
    ln -s "$unc" "$prefix/dosdevices/unc"
fi
