#!/bin/bash
# A real share outage: a share served by OpenSSH's sshd on loopback inside a private network and
# mount namespace, mounted with sshfs, and written through the file-services object by
# `gridctl drill` (no injected faults) while the server is killed mid-write and started again after
# a pause longer than one retry wait. The write must complete through the retries and the file the
# server stored must be byte-identical to the data written.
#
# Then the same outage under the other three combinations of the write-through setting
# ("UncCreateFileWriteThough") and the mount's sshfs_sync option, to measure which of them lets the
# client acknowledge data that the server never stored. Last, with write-through off on the
# asynchronous mount, a file is written, the server killed, and the file closed: the close is the
# last moment the lost writes can be seen, and it must fail (59) rather than report success.
#
#   share-outage.sh GRIDCTL CLOSER WORKDIR [MiB]      (CLOSER: grid-outage-close)
#
# Exit 0: passed; 77: skipped (no namespaces, no FUSE, no sshd/sshfs); anything else: failed.
# Everything (server, client, mount, writer) runs inside the namespaces: nothing touches the host's
# own network, and the mount disappears with the namespace.
set -euo pipefail

skip() {
    echo "SKIPPED: $*" >&2
    exit 77
}

if [ "${1:-}" != --inside ]; then
    [ $# -ge 3 ] || { echo "usage: $0 GRIDCTL CLOSER WORKDIR [MiB]" >&2; exit 2; }
    gridctl=$(realpath "$1")
    closer=$(realpath "$2")
    for tool in unshare ip /usr/sbin/sshd sshfs ssh-keygen fusermount3 cmp; do
        command -v "$tool" >/dev/null || skip "$tool is missing (tools/fetch-deps.sh installs it)"
    done
    [ -c /dev/fuse ] || skip "no /dev/fuse: FUSE mounts are not possible here"
    unshare --net --mount --fork true 2>/dev/null ||
        skip "cannot create network and mount namespaces (needs root or user namespaces)"
    mkdir -p "$3"
    exec unshare --net --mount --propagation private --fork "$0" --inside "$gridctl" "$closer" "$(realpath "$3")" "${4:-64}"
fi

# --- inside the namespaces -----------------------------------------------------------------------
gridctl=$2
closer=$3
work=$4
mib=$5
port=2222
wait_seconds=2   # the wait of the rules an outage meets (59, 51, 64, 6, 53)
pause=6          # the server stays down this long: longer than one wait plus its random extra (0-2 s)

mount -t tmpfs -o size=512m tmpfs "$work" || skip "cannot mount a tmpfs in the mount namespace"
mount -t tmpfs tmpfs /run # sshd wants /run/sshd; the host's /run stays untouched
mkdir -p /run/sshd "$work/served" "$work/unc/loopsrv/share" "$work/local/ref/share"
ip link set lo up

ssh-keygen -q -t ed25519 -N '' -f "$work/host_key"
ssh-keygen -q -t ed25519 -N '' -f "$work/client_key"
cp "$work/client_key.pub" "$work/authorized_keys"
cat >"$work/sshd_config" <<EOF
Port $port
ListenAddress 127.0.0.1
HostKey $work/host_key
PidFile none
AuthorizedKeysFile $work/authorized_keys
PermitRootLogin prohibit-password
StrictModes no
UsePAM no
PasswordAuthentication no
KbdInteractiveAuthentication no
Subsystem sftp internal-sftp
EOF

sshd_pid=
start_server() {
    /usr/sbin/sshd -D -e -f "$work/sshd_config" 2>>"$work/sshd.log" &
    sshd_pid=$!
    for _ in $(seq 50); do
        (exec 3<>/dev/tcp/127.0.0.1/$port) 2>/dev/null && return 0
        sleep 0.1
    done
    echo "sshd did not start:" >&2
    cat "$work/sshd.log" >&2
    exit 1
}
# Kills the listener and its sessions (each session's sshd serves sftp in-process).
kill_server() {
    local sessions
    sessions=$(ps -o pid= --ppid "$sshd_pid" || true)
    # shellcheck disable=SC2086
    kill -KILL "$sshd_pid" $sessions 2>/dev/null || true
    wait "$sshd_pid" 2>/dev/null || true
}

share=$work/unc/loopsrv/share
sshfs_pid=
mount_share() { # $1: extra -o options
    sshfs -f -p $port -o "reconnect,$1,IdentityFile=$work/client_key,StrictHostKeyChecking=no" \
        -o UserKnownHostsFile=/dev/null,BatchMode=yes,LogLevel=ERROR \
        "root@127.0.0.1:$work/served" "$share" 2>>"$work/sshfs.log" &
    sshfs_pid=$!
    for _ in $(seq 100); do
        mountpoint -q "$share" && return 0
        sleep 0.1
    done
    echo "sshfs did not mount:" >&2
    cat "$work/sshfs.log" >&2
    exit 1
}
unmount_share() {
    fusermount3 -u "$share" 2>/dev/null || fusermount3 -uz "$share" 2>/dev/null || true
    wait "$sshfs_pid" 2>/dev/null || true
}
cleanup() {
    local status=$?
    if [ -n "$sshfs_pid" ]; then unmount_share; fi
    if [ -n "$sshd_pid" ]; then kill_server; fi
    exit $status
}
trap cleanup EXIT

# The data the drill writes depends only on its seed: a local run makes the reference file.
GRIDAPI_UNC_ROOT=$work/local "$gridctl" drill '\\ref\share' --size "$mib" \
    --fault-rate 0 --keep >"$work/ref.out" 2>&1 || { cat "$work/ref.out"; exit 1; }
reference=$work/local/ref/share/gridctl-drill.bin

# One outage: mount, write through the object, kill the server at a quarter of the file, start it
# again after the pause, wait for the drill. Prints one result line; sets run_identical.
run_identical=
seconds() { printf '%d.%d' $(($1 / 1000000000)) $(($1 % 1000000000 / 100000000)); }
outage_run() { # $1: mount option (sshfs_sync or no_sync), $2: UncCreateFileWriteThough
    local option=$1 writeThrough=$2 mountOptions=$1 log=$work/drill-$1-$2
    [ "$option" = no_sync ] && mountOptions=max_conns=1
    rm -f "$work/served/gridctl-drill.bin" "$work/settings.db"
    local settings=(--settings "$work/settings.db" settings set)
    for key in UnexpectedNetErrorWaitSeconds RemNotListWaitSeconds NetNameDelWaitSeconds \
        InvalidHandleWaitSeconds BadNetPathWaitSeconds; do
        "$gridctl" "${settings[@]}" "$key" $wait_seconds >/dev/null
    done
    "$gridctl" "${settings[@]}" UncCreateFileWriteThough "$writeThrough" >/dev/null

    start_server
    mount_share "$mountOptions"
    local started killed restarted finished
    started=$(date +%s%N)
    GRIDAPI_UNC_ROOT=$work/unc "$gridctl" --settings "$work/settings.db" --log "$log.log" --time-scale 1 \
        drill '\\loopsrv\share' --size "$mib" --fault-rate 0 --keep >"$log.out" 2>&1 &
    local drill=$!
    local quarter=$((mib * 1024 * 1024 / 4))
    while [ "$(stat -c %s "$work/served/gridctl-drill.bin" 2>/dev/null || echo 0)" -lt $quarter ]; do
        kill -0 $drill 2>/dev/null || break
        sleep 0.02
    done
    killed=$(date +%s%N)
    local atKill
    atKill=$(stat -c %s "$work/served/gridctl-drill.bin" 2>/dev/null || echo 0)
    kill_server
    sleep $pause
    restarted=$(date +%s%N)
    start_server
    local rc=0
    wait $drill || rc=$?
    finished=$(date +%s%N)
    unmount_share
    sshfs_pid=
    kill_server
    sshd_pid=

    local stored=$work/served/gridctl-drill.bin differing=-1
    if [ -f "$stored" ]; then
        differing=$(cmp -l "$reference" "$stored" 2>/dev/null | wc -l || true)
        if [ "$(stat -c %s "$stored")" != "$(stat -c %s "$reference")" ]; then differing=$((differing + 1)); fi
    fi
    run_identical=no
    cmp -s "$reference" "$stored" && run_identical=yes
    local retries
    retries=$(sed -n 's/^  faults: .*), \([0-9]*\) retries,.*/\1/p' "$log.out")
    printf '%-10s write-through %s: drill exit %d, server killed at %d bytes, down %s s, killed to done %s s, total %s s, retries %s, stored file identical: %s (%s bytes differ)\n' \
        "$option" "$writeThrough" "$rc" "$atKill" "$(seconds $((restarted - killed)))" \
        "$(seconds $((finished - killed)))" "$(seconds $((finished - started)))" "${retries:-0}" \
        "$run_identical" "$differing"
    if [ "$run_identical" = yes ] && [ $rc -ne 0 ]; then
        echo "  the stored file is identical but the drill failed:" && cat "$log.out"
        run_identical=no
    fi
    [ "$run_identical" = yes ] || sed 's/^/  | /' "$log.out" | tail -12
}

failed=0
echo "share \\\\loopsrv\\share: sshfs over sshd on 127.0.0.1:$port in a private network namespace; $mib MiB per run"
# The default: write-through on, the mount synchronous. Must survive the outage intact.
outage_run sshfs_sync 1
[ "$run_identical" = yes ] || failed=1
# Write-through alone (an asynchronous mount): each write is followed by a flush that waits for the
# server, so an acknowledged write is stored.
outage_run no_sync 1
[ "$run_identical" = yes ] || failed=1
# The synchronous mount alone.
outage_run sshfs_sync 0
[ "$run_identical" = yes ] || failed=1
# Neither: measured and reported, not asserted (how much is lost depends on timing).
outage_run no_sync 0

# The close after the server died, write-through off, the mount asynchronous: the writes were
# acknowledged before the server stored them, and only the close can tell.
rm -f "$work/served/close.bin" "$work/ready" "$work/go"
start_server
mount_share max_conns=1
GRIDAPI_UNC_ROOT=$work/unc "$closer" '\\loopsrv\share\close.bin' 16 "$work/ready" "$work/go" >"$work/close.out" 2>&1 &
closing=$!
for _ in $(seq 600); do
    [ -f "$work/ready" ] || ! kill -0 $closing 2>/dev/null && break
    sleep 0.05
done
kill_server
sshd_pid=
touch "$work/go"
wait $closing || true
closed=$(tail -1 "$work/close.out")
unmount_share
sshfs_pid=
echo "close after the server died (write-through 0, no_sync): $closed"
if [ "$closed" != "close: FALSE 59" ]; then
    echo "  the close must report the dead connection (FALSE, 59):" && sed 's/^/  | /' "$work/close.out"
    failed=1
fi
exit $failed
