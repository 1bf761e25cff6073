#!/bin/bash
# Throughput of the SFTP component against OpenSSH's own sftp client, side by side in one run:
# a private sshd on a free 127.0.0.1 port (own configuration, ed25519 keys), one file of
# SIZE_MB MiB downloaded and uploaded REPS times by each; the median time of each side counts.
# Both sides are timed from connect to disconnect (the sftp client as a whole process).
#
#   bench/sftp/run_bench.sh            (BUILD=build dir, SIZE_MB=256, REPS=3)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
BUILD=${BUILD:-$source_dir/build}
SIZE_MB=${SIZE_MB:-256}
REPS=${REPS:-3}

cmake --build "$BUILD" --target sftp_bench >/dev/null
driver=$BUILD/bench/sftp/sftp_bench

work=$(mktemp -d /tmp/sftp_bench.XXXXXX)
sshd_pid=
cleanup() {
    [ -n "$sshd_pid" ] && kill "$sshd_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

if [ ! -d /run/sshd ]; then
    mkdir -m 0755 /run/sshd 2>/dev/null || { echo "sshd needs /run/sshd, which cannot be made" >&2; exit 1; }
fi
mkdir -p "$work/remote" "$work/local"
ssh-keygen -q -t ed25519 -N '' -f "$work/host_key"
ssh-keygen -q -t ed25519 -N '' -f "$work/user_key"
cp "$work/user_key.pub" "$work/authorized_keys"
port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
user=$(id -un)
cat > "$work/sshd_config" <<EOF
ListenAddress 127.0.0.1
Port $port
HostKey $work/host_key
AuthorizedKeysFile $work/authorized_keys
PidFile $work/sshd.pid
UsePAM no
StrictModes no
PubkeyAuthentication yes
PasswordAuthentication no
KbdInteractiveAuthentication no
PermitRootLogin prohibit-password
LogLevel ERROR
Subsystem sftp internal-sftp
EOF
/usr/sbin/sshd -D -e -f "$work/sshd_config" 2>"$work/sshd.log" &
sshd_pid=$!
for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
    sleep 0.05
done

head -c $((SIZE_MB * 1024 * 1024)) /dev/urandom > "$work/remote/source.bin"
cp "$work/remote/source.bin" "$work/local/source.bin"
bytes=$((SIZE_MB * 1024 * 1024))

# Learn the host key once, outside the measurements.
"$driver" --port "$port" --user "$user" --key "$work/user_key" --known-hosts "$work/known_hosts" \
    get "$work/local/warmup.bin" "$work/remote/source.bin" >/dev/null
rm -f "$work/local/warmup.bin"

openssh() {  # get|put local remote
    local batch="$work/batch"
    if [ "$1" = get ]; then echo "get $3 $2" > "$batch"; else echo "put $2 $3" > "$batch"; fi
    local t0 t1
    t0=$(date +%s.%N)
    sftp -q -b "$batch" -i "$work/user_key" -P "$port" -o StrictHostKeyChecking=no \
        -o UserKnownHostsFile="$work/openssh_known_hosts" -o BatchMode=yes "$user@127.0.0.1" >/dev/null
    t1=$(date +%s.%N)
    echo "$t1 - $t0" | bc -l
}

component() {  # get|put local remote; prints the time from connect to disconnect
    "$driver" --port "$port" --user "$user" --key "$work/user_key" --known-hosts "$work/known_hosts" \
        "$1" "$2" "$3" | awk '{print $3}'
}

median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
rate() { echo "$bytes / $1 / 1048576" | bc -l | xargs printf '%.0f'; }

declare -a c_get o_get c_put o_put
for rep in $(seq "$REPS"); do
    c_get+=("$(component get "$work/local/c_get.bin" "$work/remote/source.bin")")
    cmp -s "$work/local/c_get.bin" "$work/remote/source.bin" || { echo "component download differs" >&2; exit 1; }
    rm -f "$work/local/c_get.bin"
    o_get+=("$(openssh get "$work/local/o_get.bin" "$work/remote/source.bin")")
    rm -f "$work/local/o_get.bin"
    c_put+=("$(component put "$work/local/source.bin" "$work/remote/c_put.bin")")
    cmp -s "$work/remote/c_put.bin" "$work/local/source.bin" || { echo "component upload differs" >&2; exit 1; }
    rm -f "$work/remote/c_put.bin"
    o_put+=("$(openssh put "$work/local/source.bin" "$work/remote/o_put.bin")")
    rm -f "$work/remote/o_put.bin"
    echo "run $rep: component get ${c_get[-1]} s, put ${c_put[-1]} s; openssh get ${o_get[-1]} s, put ${o_put[-1]} s"
done

cg=$(median "${c_get[@]}"); og=$(median "${o_get[@]}")
cp_=$(median "${c_put[@]}"); op=$(median "${o_put[@]}")
echo "file: $SIZE_MB MiB, $REPS runs each, median times, connect to disconnect"
echo "download: component $(rate "$cg") MiB/s, OpenSSH sftp $(rate "$og") MiB/s, ratio $(echo "$og / $cg" | bc -l | xargs printf '%.2f')"
echo "upload:   component $(rate "$cp_") MiB/s, OpenSSH sftp $(rate "$op") MiB/s, ratio $(echo "$op / $cp_" | bc -l | xargs printf '%.2f')"
