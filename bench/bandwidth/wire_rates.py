#!/usr/bin/python3
"""Runs a command and measures what its TCP connections carry, from the kernel's counters.

    wire_rates.py download|upload LIMIT_KIB -- command [arguments...]

Every 50 ms `ss` gives bytes_received (download) or bytes_acked (upload) of each connection of
the process; their sum over time is what went over the wire, file data plus protocol. The
transfer starts when 64 KiB have moved (logging in and listing move less) and ends when all but
the last 64 KiB have. Prints the rate of every whole second of the transfer and its deviation
from the limit, then the worst deviation after the first second; exits with the command's code.
"""
import re
import subprocess
import sys
import time

SAMPLE = 0.05
MARGIN = 64 * 1024

def counters(pid, field):
    """Bytes so far per connection of `pid`, keyed by its two addresses."""
    out = subprocess.run(["ss", "-tinpH"], capture_output=True, text=True).stdout.splitlines()
    found = {}
    for head, info in zip(out, out[1:]):
        if f"pid={pid}," not in head:
            continue
        m = re.search(rf"\b{field}:(\d+)", info)
        if m:
            found[tuple(head.split()[3:5])] = int(m.group(1))
    return found

def main():
    direction, limit_kib = sys.argv[1], float(sys.argv[2])
    command = sys.argv[sys.argv.index("--") + 1:]
    field = "bytes_received" if direction == "download" else "bytes_acked"
    proc = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    seen = {}  # the largest count of each connection: a closed one keeps what it carried
    samples = []
    while proc.poll() is None:
        before = time.monotonic()
        for key, value in counters(proc.pid, field).items():
            seen[key] = max(seen.get(key, 0), value)
        # ss takes a while on a loaded machine: its counters are of some moment in between.
        after = time.monotonic()
        samples.append(((before + after) / 2, sum(seen.values())))
        time.sleep(max(0.0, SAMPLE - (after - before)))
    total = samples[-1][1] if samples else 0

    def at(t):  # bytes at time t, between two samples by straight line
        for (t0, b0), (t1, b1) in zip(samples, samples[1:]):
            if t0 <= t <= t1:
                return b0 + (b1 - b0) * (t - t0) / (t1 - t0) if t1 > t0 else b1
        return samples[-1][1]

    start = next((t for t, b in samples if b >= MARGIN), None)
    end = next((t for t, b in samples if b >= total - MARGIN), None)
    if start is None or end is None or end - start < 2:
        print(f"{direction}: too little moved ({total} bytes) to measure")
        return proc.returncode or 1
    limit = limit_kib * 1024
    worst = 0.0
    print(f"{direction}: {total / 1048576:.1f} MiB on the wire in {end - start:.1f} s, "
          f"limit {limit_kib:.0f} KiB/s; per second (KiB/s, deviation):")
    cells = []
    for k in range(int(end - start)):
        rate = at(start + k + 1) - at(start + k)
        deviation = (rate - limit) / limit * 100
        if k > 0:
            worst = max(worst, abs(deviation))
        cells.append(f"{rate / 1024:7.0f} {deviation:+5.1f}%" + (" (first)" if k == 0 else ""))
    for i in range(0, len(cells), 4):
        print("   " + "   ".join(cells[i:i + 4]))
    print(f"{direction}: worst deviation after the first second {worst:.1f}% "
          f"over {len(cells) - 1} seconds")
    return proc.returncode

if __name__ == "__main__":
    sys.exit(main())
