#!/usr/bin/env bash
# The bandwidth limit (limitebanda) as the wire sees it. The program itself, headless
# (mod:asp), downloads one file and uploads one file over SFTP and over FTP, on the test
# servers at 127.0.0.1 (asyncssh, pyftpdlib), with the limit in its settings; wire_rates.py
# reads the kernel's byte counters of the program's connections every 50 ms and prints the
# rate of every second of each transfer, and the worst deviation from the limit after the
# first second. The file is sized for SECONDS_EACH seconds at the limit. Files live in
# /dev/shm when there is one. A shared, loaded machine shows in the figures: say so with them.
#
#   bench/bandwidth/run_bench.sh                      # 2048 KiB/s, 12 s per transfer
#   LIMIT_KIB=256 SECONDS_EACH=15 PROTOCOLS=ftp bench/bandwidth/run_bench.sh
#   RTT_MS=100 PROTOCOLS=sftp bench/bandwidth/run_bench.sh
#       SFTP through delay_link at that round trip (FTP's data connections would bypass it).
#
# BUILD is the build folder (default build/); KEEP=1 keeps the work folder with the logs.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
BUILD=${BUILD:-$source_dir/build}
LIMIT_KIB=${LIMIT_KIB:-2048}
SECONDS_EACH=${SECONDS_EACH:-12}
PROTOCOLS=${PROTOCOLS:-sftp ftp}
PY=/usr/bin/python3  # Debian's, the one with asyncssh and pyftpdlib

RTT_MS=${RTT_MS:-}
targets=(valtrassosftp)
[ -n "$RTT_MS" ] && targets+=(delay_link)
cmake --build "$BUILD" -j2 --target "${targets[@]}" >/dev/null
prog=$BUILD/valtrassosftp
[ -x "$prog" ] || prog=$BUILD/src/shell/program/valtrassosftp

base=/dev/shm
[ -d $base ] && [ -w $base ] || base=${TMPDIR:-/tmp}
work=$(mktemp -d "$base/bandwidth_bench.XXXXXX")
server_pid= link_pid=
cleanup() {
    for pid in $server_pid $link_pid; do kill "$pid" 2>/dev/null || true; done
    if [ -n "${KEEP:-}" ]; then echo "the logs and files are kept in $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

head -c $((LIMIT_KIB * 1024 * SECONDS_EACH)) /dev/urandom > "$work/big.bin"
echo "limitebanda=$LIMIT_KIB, a file of $((LIMIT_KIB * SECONDS_EACH / 1024)) MiB each way;" \
    "load average now: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores"

failed=0
for protocol in $PROTOCOLS; do
    root=$work/$protocol/root
    mkdir -p "$root/out" "$root/in"
    if [ "$protocol" = sftp ]; then
        "$PY" "$source_dir/tests/servers/sftp_server.py" --root "$root" --host-key "$work/host_key" \
            --user bench --password benchpw --max-seconds 3600 > "$work/server.out" 2>&1 &
        type=Sftp
    else
        "$PY" "$source_dir/tests/servers/ftp_server.py" --root "$root" \
            --user bench --password benchpw --max-seconds 3600 > "$work/server.out" 2>&1 &
        type=Ftp
    fi
    server_pid=$!
    port=
    for _ in $(seq 100); do
        port=$(sed -n 's/^PORT //p' "$work/server.out")
        [ -n "$port" ] && break
        sleep 0.1
    done
    [ -n "$port" ] || { echo "the $protocol test server did not start" >&2; cat "$work/server.out" >&2; exit 1; }
    if [ -n "$RTT_MS" ] && [ "$protocol" = sftp ]; then
        "$BUILD/bench/latency/delay_link" --target "$port" --rtt-ms "$RTT_MS" > "$work/link.out" &
        link_pid=$!
        for _ in $(seq 100); do grep -q '^PORT ' "$work/link.out" && break; sleep 0.05; done
        port=$(sed -n 's/^PORT //p' "$work/link.out")
        echo "SFTP through delay_link at $RTT_MS ms round trip"
    fi

    for direction in download upload; do
        home=$work/$protocol/$direction
        mkdir -p "$home/local"
        if [ "$direction" = download ]; then
            cp "$work/big.bin" "$root/out/big.bin"
            : > "$root/out/scarica_ok"  # the folder is complete
            remote=/out/ operation=Download arrived=$home/local/big.bin
        else
            cp "$work/big.bin" "$home/local/big.bin"
            remote=/in/ operation=Upload arrived=$root/in/big.bin
        fi
        cat > "$home/valtrassosftp.ini" <<INI
[PARAMETRI]
host=127.0.0.1:$port
login=bench
pwd=benchpw
deltatime=15
tiposerver=$type
limitebanda=$LIMIT_KIB
DirRemota_0=$remote
DirLocale_0=$home/local
TipoFile_0=TUTTI
CancelloFile_0=NO
TipoOperazione_0=$operation
DirLocaleBackup_0=
Dirmoltiplicatore_0=1x
INI
        echo
        echo "== $protocol $direction"
        code=0
        VALTRASSOSFTP_HOME=$home LC_ALL=C "$PY" "$here/wire_rates.py" "$direction" "$LIMIT_KIB" -- \
            "$prog" mod:asp --headless || code=$?
        if [ "$code" != 0 ] || ! cmp -s "$arrived" "$work/big.bin"; then
            echo "$protocol $direction FAILED (exit code $code); the day's log:"
            tail -20 "$home"/log/*.txt
            failed=1
        fi
    done
    for pid in $server_pid $link_pid; do kill "$pid"; wait "$pid" 2>/dev/null || true; done
    server_pid= link_pid=
done
exit $failed
