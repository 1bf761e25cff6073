#!/bin/bash
# SFTP throughput and round trips: the SFTP component against OpenSSH's own sftp client (and
# rclone's sftp backend when rclone is installed), side by side on a private sshd at 127.0.0.1
# (own configuration, ed25519 keys). Files live in /dev/shm so that disks do not count.
#
#   bench/sftp/run_bench.sh                     straight to sshd, no added delay, SIZE_MB=256
#   RTT_MS=0,10,50,100 bench/sftp/run_bench.sh  through delay_link at each round trip, SIZE_MB=64
#       Each RTT: download and upload of one SIZE_MB MiB file, REPS (5) runs per tool and
#       direction, the tools taking turns (ours sftp rclone ours sftp rclone ...). Every run is
#       the whole process timed from outside, its copy checked with cmp. Prints the median MB/s
#       (10^6 bytes/s) with the spread (min-max) and the ratios ours/sftp and ours/rclone, then
#       one table for all RTTs. rclone runs without its md5sum over ssh after each copy
#       (disable_hashcheck), so that all three only move data. delay_link is checked first: at
#       0 ms, LINK_CHECK_MB (256) MiB downloaded with sftp through it against straight to sshd
#       (the ratio); at each RTT, 20 ping-pongs (asked against measured).
#
#   SMALL_FILES=200 SMALL_KB=8 RTT_MS=20 bench/sftp/run_bench.sh
#       The program itself, headless (mod:asp), one download job with CancelloFile SI and key
#       login, through delay_link at one RTT. sshd runs its sftp-server at DEBUG3 with the time
#       of each log line (sftp_log.py). Prints the whole time, the files moved, the requests by
#       type, the READs per file and the exchanges in sequence per file.
#
# BUILD is the build folder (default build/); KEEP=1 keeps the work folder with the logs.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
BUILD=${BUILD:-$source_dir/build}
REPS=${REPS:-5}
SMALL_FILES=${SMALL_FILES:-}
SMALL_KB=${SMALL_KB:-8}
[ -n "$SMALL_FILES" ] && RTT_MS=${RTT_MS:-20}
rtts=${RTT_MS:-}  # empty: one run straight to sshd
if [ -n "$rtts" ]; then SIZE_MB=${SIZE_MB:-64}; else SIZE_MB=${SIZE_MB:-256}; fi
LINK_CHECK_MB=${LINK_CHECK_MB:-256}

targets=(sftp_bench delay_link)
[ -n "$SMALL_FILES" ] && targets=(valtrassosftp delay_link)
cmake --build "$BUILD" -j2 --target "${targets[@]}" >/dev/null
driver=$BUILD/bench/sftp/sftp_bench
link=$BUILD/bench/latency/delay_link
tools=(ours sftp)
if command -v rclone >/dev/null; then
    tools+=(rclone)
else
    echo "no rclone (Debian package rclone): its column stays empty"
fi

base=/dev/shm
[ -d $base ] && [ -w $base ] || base=${TMPDIR:-/tmp}
work=$(mktemp -d "$base/sftp_bench.XXXXXX")
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    if [ -n "${KEEP:-}" ]; then echo "the logs and files are kept in $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

wait_port() {
    for _ in $(seq 100); do
        (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
        sleep 0.05
    done
    echo "nothing listens on 127.0.0.1:$1" >&2
    exit 1
}

if [ ! -d /run/sshd ]; then
    mkdir -m 0755 /run/sshd 2>/dev/null ||
        { echo "sshd needs /run/sshd, which cannot be made" >&2; exit 1; }
fi
mkdir -p "$work/remote" "$work/local"
ssh-keygen -q -t ed25519 -N '' -f "$work/host_key"
ssh-keygen -q -t ed25519 -N '' -f "$work/user_key"
cp "$work/user_key.pub" "$work/authorized_keys"
port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
user=$(id -un)
subsystem=internal-sftp
# sftp-server's own log is the only place that names each request; it goes to a file only
# when its standard error is taken away from the session.
[ -n "$SMALL_FILES" ] && subsystem="/usr/bin/python3 $here/sftp_log.py stamp $work/sftp.log \
/usr/lib/openssh/sftp-server -e -l DEBUG3"
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
Subsystem sftp $subsystem
EOF
/usr/sbin/sshd -D -e -f "$work/sshd_config" 2>"$work/sshd.log" &
pids+=($!)
wait_port "$port"

link_pid=
start_link() {  # RTT_MS; sets link_port
    "$link" --target "$port" --rtt-ms "$1" > "$work/link.out" &
    link_pid=$!
    pids+=($link_pid)
    for _ in $(seq 100); do grep -q '^PORT ' "$work/link.out" && break; sleep 0.05; done
    link_port=$(sed -n 's/^PORT //p' "$work/link.out")
    [ -n "$link_port" ] || { echo "delay_link did not start" >&2; exit 1; }
}
stop_link() { kill "$link_pid"; wait "$link_pid" 2>/dev/null || true; }
now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }

# Each tool: get|put PORT FROM TO (get: remote to local, put: local to remote).
run_ours() {
    local op=$1 port=$2
    [ "$op" = get ] && set -- "$4" "$3" || set -- "$3" "$4"
    "$driver" --port "$port" --user "$user" --key "$work/user_key" \
        --known-hosts "$work/known_hosts" "$op" "$1" "$2" >/dev/null
}
run_sftp() {
    echo "$1 $3 $4" > "$work/batch"
    sftp -q -b "$work/batch" -i "$work/user_key" -P "$2" -o StrictHostKeyChecking=no \
        -o UserKnownHostsFile="$work/openssh_known_hosts" -o BatchMode=yes "$user@127.0.0.1" >/dev/null
}
export RCLONE_CONFIG=$work/rclone.conf RCLONE_CONFIG_BENCH_TYPE=sftp RCLONE_CONFIG_BENCH_HOST=127.0.0.1 \
    RCLONE_CONFIG_BENCH_USER=$user RCLONE_CONFIG_BENCH_KEY_FILE=$work/user_key \
    RCLONE_CONFIG_BENCH_DISABLE_HASHCHECK=true RCLONE_CONFIG_BENCH_SHELL_TYPE=none
run_rclone() {
    local from=$3 to=bench:$4
    [ "$1" = get ] && from=bench:$3 to=$4
    RCLONE_CONFIG_BENCH_PORT=$2 rclone copyto -q "$from" "$to"
}
measure() {  # TOOL get|put PORT [REMOTE FILE]; prints the seconds, once the copy is checked
    local from=${4:-$work/remote/source.bin} to=$work/local/copy.bin t0 t1
    [ "$2" = put ] && from=$work/local/source.bin to=$work/remote/copy.bin
    t0=$(now)
    "run_$1" "$2" "$3" "$from" "$to"
    t1=$(now)
    cmp -s "$from" "$to" || { echo "$1 $2: the copy differs" >&2; exit 1; }
    rm -f "$to"
    elapsed "$t0" "$t1"
}

if [ -n "$SMALL_FILES" ]; then
    prog=$BUILD/valtrassosftp
    [ -x "$prog" ] || prog=$BUILD/src/shell/program/valtrassosftp
    home=$work/program
    mkdir -p "$home" "$work/remote/small" "$work/local/small"
    for i in $(seq -w "$SMALL_FILES"); do
        head -c $((SMALL_KB * 1024)) /dev/urandom > "$work/remote/small/file_$i.bin"
    done
    : > "$work/remote/small/scarica_ok"  # the folder is complete
    "$here/../latency/check_rtt.py" "$link" "$RTT_MS"
    start_link "$RTT_MS"
    cat > "$home/valtrassosftp.ini" <<EOF
[PARAMETRI]
host=127.0.0.1:$link_port
login=$user
pwd=
deltatime=15
tiposerver=Sftp
keyfile=$work/user_key
DirRemota_0=$work/remote/small
DirLocale_0=$work/local/small
TipoFile_0=TUTTI
CancelloFile_0=SI
TipoOperazione_0=Download
DirLocaleBackup_0=
Dirmoltiplicatore_0=1x
EOF
    code=0
    t0=$(now)
    VALTRASSOSFTP_HOME=$home LC_ALL=C "$prog" mod:asp --headless > "$work/program.out" 2>&1 || code=$?
    t1=$(now)
    total=$(elapsed "$t0" "$t1")
    moved=$(find "$work/local/small" -type f | wc -l)
    left=$(find "$work/remote/small" -type f ! -name scarica_ok | wc -l)
    echo "$SMALL_FILES files of $SMALL_KB KiB at RTT $RTT_MS ms: whole run $total s (exit code $code)," \
        "$moved files downloaded, $left left on the server"
    awk -v t="$total" -v n="$SMALL_FILES" -v r="$RTT_MS" 'BEGIN { p = t / n * 1000;
        printf "whole run per file %.0f ms: beyond the 100 ms pause %.0f ms = %.1f round trips\n", p, p - 100, (p - 100) / r }'
    python3 "$here/sftp_log.py" count "$work/sftp.log" "$work/remote/small" "$RTT_MS"
    [ "$code" = 0 ] || { echo "the program's output:"; tail -20 "$work/program.out"; }
    exit "$code"
fi

head -c $((SIZE_MB * 1024 * 1024)) /dev/urandom > "$work/remote/source.bin"
cp "$work/remote/source.bin" "$work/local/source.bin"
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

if [ -n "$rtts" ]; then
    head -c $((LINK_CHECK_MB * 1024 * 1024)) /dev/urandom > "$work/remote/check.bin"
    start_link 0
    direct=() linked=()
    for _ in 1 2 3; do
        direct+=("$(measure sftp get "$port" "$work/remote/check.bin")")
        linked+=("$(measure sftp get "$link_port" "$work/remote/check.bin")")
    done
    cpu=$(awk -v hz="$(getconf CLK_TCK)" '{ print ($14 + $15) / hz }' "/proc/$link_pid/stat")
    stop_link
    rm "$work/remote/check.bin"
    d=$(median "${direct[@]}") l=$(median "${linked[@]}")
    awk -v d="$d" -v l="$l" -v mb="$LINK_CHECK_MB" -v cpu="$cpu" -v lt="${linked[*]}" 'BEGIN {
        b = mb * 1048576 / 1e6; split(lt, t, " ")
        printf "delay_link at 0 ms, %d MiB sftp download, median of 3: straight %.0f MB/s, ", mb, b / d
        printf "through it %.0f MB/s, ratio %.2f\n", b / l, d / l
        printf "delay_link used %.2f s of CPU for the 3 downloads through it (%.1f s)\n", cpu, t[1] + t[2] + t[3] }'
fi

summary() {  # the table of what $work/results holds: median MB/s (min-max) and ratios
    python3 - "$work/results" "$SIZE_MB" <<'EOF'
import collections, statistics, sys
runs = collections.defaultdict(list)
for line in open(sys.argv[1]):
    rtt, d, tool, s = line.split()
    runs[rtt, d, tool].append(int(sys.argv[2]) * 1048576 / 1e6 / float(s))
def cell(k):
    return f"{statistics.median(runs[k]):.1f} ({min(runs[k]):.1f}-{max(runs[k]):.1f})" if k in runs else "-"
def ratio(k, o):
    return f"{statistics.median(runs[k]) / statistics.median(runs[o]):.2f}" if o in runs else "-"
print("| RTT ms | dir | ours MB/s | sftp | rclone | ours/sftp | ours/rclone |\n|---|---|---|---|---|---|---|")
for rtt, d in dict.fromkeys((r, d) for r, d, _ in runs):
    ours, sftp, rclone = ((rtt, d, t) for t in ("ours", "sftp", "rclone"))
    print(f"| {rtt} | {d} | {cell(ours)} | {cell(sftp)} | {cell(rclone)} | {ratio(ours, sftp)} | "
          f"{ratio(ours, rclone)} |")
EOF
}

: > "$work/results"
echo "load average at the start: $(cut -d' ' -f1-3 /proc/loadavg) (2 cores: the runs share them with whatever else runs)"
list=${rtts:-direct}
for rtt in ${list//,/ }; do
    if [ "$rtt" = direct ]; then
        p=$port
    else
        "$here/../latency/check_rtt.py" "$link" "$rtt"
        start_link "$rtt"
        p=$link_port
    fi
    for rep in $(seq "$REPS"); do
        line="RTT $rtt run $rep:"
        for dir in get put; do
            for tool in "${tools[@]}"; do
                s=$(measure "$tool" "$dir" "$p")
                echo "$rtt $dir $tool $s" >> "$work/results"
                line+=" $dir $tool $s s,"
            done
        done
        echo "${line%,}"
    done
    [ "$rtt" = direct ] || stop_link
    summary | grep "^| $rtt |"
done
echo
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "$SIZE_MB MiB file, $REPS runs per tool and direction, taking turns; median MB/s (min-max), whole process:"
summary
