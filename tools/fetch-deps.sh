#!/bin/bash
# Installs what the builds need on a Debian 12 machine, and fetches the sources that are built for
# the Windows target (Debian ships no mingw Boost or SQLite). Idempotent: a second run installs and
# downloads nothing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
deps="$root/.deps"

packages=(
    cmake make g++ pkg-config xz-utils dpkg-dev
    g++-mingw-w64-x86-64-posix wine64 wixl msitools
    libboost-dev libboost-filesystem-dev libboost-system-dev libboost-thread-dev
    libsqlite3-dev googletest libbenchmark-dev tcl
    clang libclang-rt-14-dev
    libcli11-dev nlohmann-json3-dev help2man bash-completion python3-minimal
    openssh-server openssh-client sshfs fuse3 iproute2
)
missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed'; then
        missing+=("$package")
    fi
done
if ((${#missing[@]})); then
    echo "installing: ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Debian's source packages, for the Windows target's Boost.Filesystem and SQLite.
enable_deb_src() {
    if ! grep -qs '^Types:.*deb-src' /etc/apt/sources.list.d/*.sources /etc/apt/sources.list 2>/dev/null &&
        ! grep -qs '^deb-src' /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null; then
        sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
            >/etc/apt/sources.list.d/debian-src.sources
        apt-get update -qq
    fi
}

if [ ! -f "$deps/boost/libs/filesystem/src/operations.cpp" ]; then
    enable_deb_src
    mkdir -p "$deps/download"
    (cd "$deps/download" && ls boost1.74_*.orig.tar.xz >/dev/null 2>&1 || apt-get source --download-only -qq boost1.74)
    tar -xJf "$deps"/download/boost1.74_*.orig.tar.xz -C "$deps" boost/libs/filesystem/src
fi

if [ -x "$root/host/third_party/fetch-sqlite.sh" ]; then
    enable_deb_src
    "$root/host/third_party/fetch-sqlite.sh" "$deps/sqlite"
fi
