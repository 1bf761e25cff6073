#!/usr/bin/python3
"""What the SFTP server was asked, for the small-files benchmark.

    sftp_log.py stamp LOG COMMAND...
        Runs COMMAND (sshd's sftp-server with -e -l DEBUG3) with this process's standard input
        and output, and appends its standard error to LOG with the time of each line in front.
        sshd names this as its sftp subsystem, so the log tells when each request arrived.

    sftp_log.py count LOG FOLDER RTT_MS
        Reads such a log and prints, for the files of the remote FOLDER, the requests by type
        (per file and for the session as a whole), the READ requests per file and how many of
        them were answered with end of file, and the exchanges in sequence per file: requests
        that arrive more than RTT/2 after the one before had to wait for an answer, so each
        such gap starts a new exchange; a file's exchanges are those that name it, and one that
        names several files (requests sent together for all of them) is counted apart."""
import collections
import os
import re
import statistics
import subprocess
import sys
import time

REQUEST = re.compile(r"request (\d+): (\S+)(.*)")
QUOTED = re.compile(r'"(.*)"')


def stamp(log, command):
    # Every line of one read() gets the time that read() returned: stamping line by line would
    # lag behind a burst of requests and stretch it.
    with open(log, "ab", buffering=0) as out:
        child = subprocess.Popen(command, stderr=subprocess.PIPE)
        rest = b""
        while chunk := os.read(child.stderr.fileno(), 1 << 16):
            now = b"%.6f " % time.time()
            *lines, rest = (rest + chunk).split(b"\n")
            out.write(b"".join(now + line + b"\n" for line in lines))
        sys.exit(child.wait())


def norm(path):
    return os.path.normpath(path) if path else path


def parse(log):
    """Requests in arrival order: dicts with time, type, name, status."""
    requests, by_id, handles, last = [], {}, {}, None
    for line in open(log, errors="replace"):
        t, _, text = line.rstrip("\n").partition(" ")
        m = REQUEST.search(text)
        if m and m.group(2) == "sent":
            r = by_id.get(m.group(1))
            h = re.match(r" handle handle (\d+)", m.group(3))
            s = re.match(r" status (\d+)", m.group(3))
            if r and h:
                handles[h.group(1)] = r["name"]
            elif r and s:
                r["status"] = int(s.group(1))
        elif m:
            q = QUOTED.search(m.group(3))
            h = re.search(r"handle (\d+)", m.group(3))
            name = norm(q.group(1)) if q else handles.get(h.group(1)) if h else None
            last = {"time": float(t), "type": m.group(2), "name": name, "status": None}
            requests.append(last)
            by_id[m.group(1)] = last
        elif last and last["name"] is None and not text.startswith("debug"):
            q = QUOTED.search(text)  # open, stat, close, remove ... name the file on a line of their own
            if q:
                last["name"] = norm(q.group(1))
    return requests


def count(log, folder, rtt_ms):
    requests = parse(log)
    folder = norm(folder)
    files = sorted({r["name"] for r in requests if r["name"] and os.path.dirname(r["name"]) ==
                    folder and os.path.basename(r["name"]) != "scarica_ok"})
    if not files:
        print(f"no request named a file of {folder}")
        return
    burst, prev = 0, None
    for r in requests:
        if prev is not None and r["time"] - prev > rtt_ms / 2000:
            burst += 1
        r["burst"], prev = burst, r["time"]

    per_file = {f: [r for r in requests if r["name"] == f] for f in files}
    types = collections.Counter(r["type"] for r in requests)
    file_types = collections.Counter(r["type"] for rs in per_file.values() for r in rs)
    n = len(files)
    print(f"requests the server received ({len(requests)} in all, {n} files of {folder}):")
    print("| request | whole session | naming a file | per file |")
    print("|---|---|---|---|")
    for t, total in types.most_common():
        print(f"| {t} | {total} | {file_types[t]} | {file_types[t] / n:.2f} |")

    reads = [sum(r["type"] == "read" for r in rs) for rs in per_file.values()]
    eofs = [sum(r["type"] == "read" and r["status"] == 1 for r in rs) for rs in per_file.values()]
    print(f"READ requests per file: mean {statistics.mean(reads):.1f} (min {min(reads)}, max "
          f"{max(reads)}), answered with end of file: mean {statistics.mean(eofs):.1f}")

    # An exchange that names several files at once (requests sent together for all of them) is
    # no file's own: it is counted apart, and shown in brackets.
    named = collections.defaultdict(set)
    for r in requests:
        if r["name"] in per_file:
            named[r["burst"]].add(r["name"])
    shapes, exchanges, shared = collections.Counter(), [], []
    for rs in per_file.values():
        groups = collections.OrderedDict()
        for r in rs:
            groups.setdefault(r["burst"], []).append(r["type"])
        common = [b for b in groups if len(named[b]) > 1]
        exchanges.append(len(groups) - len(common))
        shared.append(len(common))
        shapes[" | ".join(f"[{squeeze(g)}]" if b in common else squeeze(g)
                          for b, g in groups.items())] += 1
    print(f"exchanges in sequence per file (gap > {rtt_ms / 2:g} ms between requests): mean "
          f"{statistics.mean(exchanges):.2f} (min {min(exchanges)}, max {max(exchanges)}), besides "
          f"{statistics.mean(shared):.2f} shared with other files; the whole session had {burst + 1}")
    shape, seen = shapes.most_common(1)[0]
    print(f"most files ({seen} of {n}) went: {shape}")


def squeeze(types):
    """'read read read close' -> 'read x3 + close'."""
    out = []
    for t in types:
        if out and out[-1][0] == t:
            out[-1][1] += 1
        else:
            out.append([t, 1])
    return " + ".join(t if k == 1 else f"{t} x{k}" for t, k in out)


if __name__ == "__main__":
    if len(sys.argv) > 3 and sys.argv[1] == "stamp":
        stamp(sys.argv[2], sys.argv[3:])
    elif len(sys.argv) == 5 and sys.argv[1] == "count":
        count(sys.argv[2], sys.argv[3], float(sys.argv[4]))
    else:
        sys.exit(__doc__)
