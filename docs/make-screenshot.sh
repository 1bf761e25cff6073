#!/usr/bin/env bash
# Renews docs/screenshot.png: the window after one real cycle against the test SFTP server on
# 127.0.0.1, on a virtual X display. Needs a build (scripts/build), Xvfb, xwininfo (x11-utils)
# and netpbm. Optional argument: the window's size, WIDTHxHEIGHT (default 900x560).
set -euo pipefail
cd "$(dirname "$0")/.."
size=${1:-900x560}
program=build/src/shell/program/valtrassosftp
for tool in Xvfb xwininfo xwdtopnm pnmcut pnmtopng; do
  command -v "$tool" >/dev/null || { echo "missing: $tool (packages xvfb, x11-utils, netpbm)"; exit 1; }
done
[[ -x $program ]] || { echo "build the program first: scripts/build"; exit 1; }

work=$(mktemp -d /tmp/valtrassosftp-shot.XXXXXX)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; rm -rf "$work"' EXIT
home=$work/home
mkdir -p "$home" "$work/server/outbox" "$work/server/inbox" "$work/local/download" \
         "$work/local/backup" "$work/local/upload"
for n in 1 2 3; do echo "report $n" > "$work/server/outbox/report_$n.pdf"; done
: > "$work/server/outbox/scarica_ok"
for n in 1 2; do echo "invoice $n" > "$work/local/upload/invoice_$n.pdf"; done

mkfifo "$work/server.stdin"
sleep 120 > "$work/server.stdin" & pids+=($!)
/usr/bin/python3 tests/servers/sftp_server.py --root "$work/server" --user demo \
  --password demo-password --host-key "$work/server_host_key" --max-seconds 120 \
  < "$work/server.stdin" > "$work/server.out" 2>&1 & pids+=($!)
for _ in $(seq 100); do grep -q '^PORT ' "$work/server.out" 2>/dev/null && break; sleep 0.1; done
port=$(sed -n 's/^PORT //p' "$work/server.out")
[[ -n $port ]] || { echo "the SFTP test server did not start"; cat "$work/server.out"; exit 1; }

cat > "$home/valtrassosftp.ini" <<INI
[PARAMETRI]
host=127.0.0.1:$port
login=demo
pwd=demo-password
deltatime=10
tiposerver=Sftp
DirRemota_0=/outbox
DirLocale_0=$work/local/download
TipoFile_0=TUTTI
CancelloFile_0=SI
TipoOperazione_0=Download
DirLocaleBackup_0=$work/local/backup
Dirmoltiplicatore_0=1x
DirRemota_1=/inbox
DirLocale_1=$work/local/upload
TipoFile_1=TUTTI
CancelloFile_1=SI
TipoOperazione_1=Upload
Dirmoltiplicatore_1=1x
OperMail_0=A1
OperMail_1=B2
INI

# A display with no window manager: the window has no frame, and its client area is the grab.
display=:$((RANDOM % 400 + 100))
Xvfb "$display" -screen 0 1600x1200x24 -fbdir "$work" -nolisten tcp >/dev/null 2>&1 & pids+=($!)
sleep 1
DISPLAY=$display VALTRASSOSFTP_HOME=$home QT_QPA_PLATFORM=xcb \
  "$program" mod:auto once:y -geometry "$size+0+0" >/dev/null 2>&1 & pids+=($!)
for _ in $(seq 200); do
  grep -q "Disabilito per parametro Once" "$home"/log/*.txt 2>/dev/null && break
  sleep 0.1
done
sleep 1  # the last repaint
geometry=$(DISPLAY=$display xwininfo -name "ValtrassoSftp - Vers. 4.0 - 16/10/09 ope: TUTTI")
x=$(sed -n 's/.*Absolute upper-left X: *//p' <<<"$geometry")
y=$(sed -n 's/.*Absolute upper-left Y: *//p' <<<"$geometry")
w=$(sed -n 's/.*Width: *//p' <<<"$geometry")
h=$(sed -n 's/.*Height: *//p' <<<"$geometry")
xwdtopnm < "$work/Xvfb_screen0" 2>/dev/null | pnmcut "$x" "$y" "$w" "$h" | pnmtopng > docs/screenshot.png
echo "docs/screenshot.png: ${w}x$h"
