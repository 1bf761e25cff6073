#!/usr/bin/python3
"""Soak run: the headless program in timer mode (1-second interval) against the SFTP test
server for many cycles, each cycle downloading and uploading a few files. Prints cycles run,
files moved, files lost (must be 0), and the program's memory and open descriptors at the
start and at the end.

usage: bench/soak/soak.py [--cycles 1000] [--binary build/src/shell/program/valtrassosftp]
"""
import argparse
import os
import pathlib
import re
import select
import signal
import subprocess
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parents[2]


def proc_figures(pid):
    rss = 0
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                rss = int(line.split()[1])
    fds = len(os.listdir(f"/proc/{pid}/fd"))
    return rss, fds


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cycles", type=int, default=1000)
    ap.add_argument("--binary", default=str(ROOT / "build/src/shell/program/valtrassosftp"))
    ap.add_argument("--files-per-cycle", type=int, default=3)
    args = ap.parse_args()

    work = pathlib.Path(tempfile.mkdtemp(prefix="vs-soak."))
    served, home = work / "served", work / "home"
    dl, bak, up = work / "local/dl", work / "local/bak", work / "local/up"
    for d in (served / "out", served / "in", home, dl, bak, up):
        d.mkdir(parents=True, exist_ok=True)
    (served / "out/scarica_ok").write_bytes(b"")

    server = subprocess.Popen(
        ["/usr/bin/python3", str(ROOT / "tests/servers/sftp_server.py"), "--root", str(served),
         "--host-key", str(work / "host_key"), "--max-seconds", str(args.cycles * 3 + 600)],
        stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    port = None
    while port is None:
        line = server.stdout.readline()
        if not line:
            sys.exit("the SFTP test server did not start")
        m = re.match(r"PORT (\d+)", line)
        port = m and int(m.group(1))

    (home / "valtrassosftp.ini").write_text(
        "[PARAMETRI]\nhost=127.0.0.1:%d\nlogin=tester\npwd=secret\ndeltatime=1\ntiposerver=Sftp\n"
        "DirRemota_0=/out\nDirLocale_0=%s\nTipoFile_0=TUTTI\nCancelloFile_0=SI\n"
        "TipoOperazione_0=Download\nDirLocaleBackup_0=%s\nDirmoltiplicatore_0=1x\n"
        "DirRemota_1=/in\nDirLocale_1=%s\nTipoFile_1=TUTTI\nCancelloFile_1=SI\n"
        "TipoOperazione_1=Upload\nDirmoltiplicatore_1=1x\n" % (port, dl, bak, up))

    env = dict(os.environ, VALTRASSOSFTP_HOME=str(home), LC_ALL="C")
    prog = subprocess.Popen([args.binary, "mod:auto", "--headless"], env=env,
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    made_down, made_up = set(), set()
    cycles, start_figures, serial = 0, None, 0
    buf = b""
    deadline = time.time() + args.cycles * 4 + 120
    try:
        while cycles < args.cycles and time.time() < deadline:
            ready, _, _ = select.select([prog.stdout], [], [], 1.0)
            if not ready:
                continue
            chunk = os.read(prog.stdout.fileno(), 65536)
            if not chunk:
                break
            buf += chunk
            *lines, buf = buf.split(b"\n")
            for line in lines:
                if re.search(rb"^\d\d:\d\d:\d\d Ciclo \d+$", line):
                    cycles += 1
                    if cycles == 5:
                        start_figures = proc_figures(prog.pid)
                    # A few new files on each side for the next cycle.
                    for _ in range(args.files_per_cycle):
                        serial += 1
                        name = "d%06d.bin" % serial
                        tmp = served / "out" / ("." + name)
                        tmp.write_bytes(os.urandom(1000 + serial % 5000))
                        tmp.rename(served / "out" / name)
                        made_down.add(name)
                        name = "u%06d.bin" % serial
                        tmp = work / ("." + name)
                        tmp.write_bytes(os.urandom(1000 + serial % 5000))
                        tmp.rename(up / name)
                        made_up.add(name)
        end_figures = proc_figures(prog.pid)
        # Let the last files go through, then stop in order.
        time.sleep(4)
    finally:
        prog.send_signal(signal.SIGTERM)
        prog.wait(30)
        server.stdin.close()
        server.terminate()

    down_arrived = {p.name for p in dl.iterdir()}
    down_left = {p.name for p in (served / "out").iterdir()}
    up_arrived = {p.name for p in (served / "in").iterdir()}
    up_left = {p.name for p in up.iterdir()}
    lost = [n for n in made_down if n not in down_arrived and n not in down_left]
    lost += [n for n in made_up if n not in up_arrived and n not in up_left]
    moved = len(made_down & down_arrived) + len(made_up & up_arrived)
    print("cycles run:            %d" % cycles)
    print("files made:            %d" % (len(made_down) + len(made_up)))
    print("files moved:           %d" % moved)
    print("files still waiting:   %d" % (len(made_down & down_left) + len(made_up & up_left)))
    print("files lost:            %d" % len(lost))
    if start_figures:
        print("memory (VmRSS) kB:     start %d  end %d" % (start_figures[0], end_figures[0]))
        print("open descriptors:      start %d  end %d" % (start_figures[1], end_figures[1]))
    print("work folder:           %s" % work)
    sys.exit(1 if lost else 0)


if __name__ == "__main__":
    main()
