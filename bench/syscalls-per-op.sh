#!/bin/bash
# System calls per operation, bare and through the file-services object, counted with strace
# between the markers that grid-syscall-count makes (Linux build; needs strace).
#   bench/syscalls-per-op.sh [build/linux]
set -euo pipefail
build=${1:-build/linux}
trace=$(mktemp)
trap 'rm -f "$trace"' EXIT
GRIDAPI_UNC_ROOT=$PWD/$build/unc strace -o "$trace" -e 'signal=none' \
    "$build/bin/grid-syscall-count" >"$trace.names"
python3 - "$trace" "$trace.names" <<'PY'
import sys
lines = open(sys.argv[1]).read().splitlines()
names = open(sys.argv[2]).read().splitlines()
runs, counts, inside = 100, [], None
for line in lines:
    if line.startswith("getppid("):
        if inside is None:
            inside = {}
        else:
            counts.append(inside)
            inside = None
    elif inside is not None:
        call = line.split("(", 1)[0]
        inside[call] = inside.get(call, 0) + 1
print("| operation | system calls per operation | which |")
print("|---|---|---|")
for name, calls in zip(names, counts):
    total = sum(calls.values()) / runs
    which = ", ".join(f"{c} {n / runs:g}" for c, n in sorted(calls.items()))
    print(f"| {name} | {total:g} | {which} |")
PY
rm -f "$trace.names"
