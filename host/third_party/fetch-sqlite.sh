#!/bin/sh
# Fetches Debian's SQLite source package and generates the single-file
# amalgamation (sqlite3.c, sqlite3.h, sqlite3ext.h) into <dest-dir>.
# The Windows build of StravoHost compiles it into a static library, because
# Debian ships no SQLite for mingw-w64.
#
# Needs (Debian packages): dpkg-dev (dpkg-source), gcc, make, tcl (tclsh runs the
# amalgamation generator), and root to enable the deb-src entries once.
# Idempotent: does nothing when <dest-dir> already holds a complete amalgamation.
set -eu

if [ $# -ne 1 ]; then
    echo "usage: $0 <dest-dir>" >&2
    exit 2
fi
dest=$1

if [ -f "$dest/sqlite3.c" ] && [ -f "$dest/sqlite3.h" ] && [ -f "$dest/sqlite3ext.h" ] && [ -f "$dest/VERSION" ]; then
    exit 0
fi

for tool in dpkg-source tclsh make cc; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "fetch-sqlite: '$tool' is missing (apt-get install dpkg-dev tcl make gcc)" >&2
        exit 1
    fi
done

# Source entries: derive a deb-src list from the binary one when none exists yet.
if [ -z "$(apt-cache showsrc sqlite3 2>/dev/null | head -n 1)" ]; then
    srclist=/etc/apt/sources.list.d/debian-src.sources
    if [ ! -f "$srclist" ]; then
        sed 's/^Types:.*$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources >"$srclist"
    fi
    apt-get update -qq
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM

(
    cd "$work"
    # The orig tarball is the full source tree (no amalgamation): unpack with
    # Debian's patches applied, then generate sqlite3.c with the upstream makefile.
    apt-get source --download-only sqlite3 >/dev/null 2>&1 || apt-get source --download-only sqlite3
    dsc=$(ls sqlite3_*.dsc | head -n 1)
    # The archive's signed Release file already vouches for the files apt fetched.
    dpkg-source --no-check -x "$dsc" src >unpack.log 2>&1 || { cat unpack.log >&2; exit 1; }
    mkdir src/bld
    cd src/bld
    ../configure --disable-tcl >configure.log 2>&1 || { cat configure.log >&2; exit 1; }
    make sqlite3.c >make.log 2>&1 || { tail -n 40 make.log >&2; exit 1; }
    echo "$dsc" | sed 's/^sqlite3_//; s/\.dsc$//' >VERSION
)

mkdir -p "$dest"
for f in sqlite3.c sqlite3.h sqlite3ext.h; do
    cp "$work/src/bld/$f" "$dest/$f.tmp"
    mv "$dest/$f.tmp" "$dest/$f"
done
# VERSION last: its presence marks a complete fetch.
cp "$work/src/bld/VERSION" "$dest/VERSION"
echo "fetch-sqlite: SQLite $(cat "$dest/VERSION") amalgamation in $dest"
