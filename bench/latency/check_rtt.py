#!/usr/bin/python3
"""Checks that delay_link gives the round trip it is asked for: an echo server on a free
127.0.0.1 port, delay_link in front of it, COUNT ping-pongs of 64 bytes one after the other.
Prints the asked and the measured round trip (median, min-max) in ms.

    check_rtt.py DELAY_LINK RTT_MS [COUNT]"""
import socket
import statistics
import subprocess
import sys
import threading
import time


def echo(server):
    conn, _ = server.accept()
    conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    while data := conn.recv(65536):
        conn.sendall(data)


def main():
    binary, rtt = sys.argv[1], float(sys.argv[2])
    count = int(sys.argv[3]) if len(sys.argv) > 3 else 20
    server = socket.create_server(("127.0.0.1", 0))
    threading.Thread(target=echo, args=(server,), daemon=True).start()
    link = subprocess.Popen([binary, "--target", str(server.getsockname()[1]), "--rtt-ms",
                             str(rtt)], stdout=subprocess.PIPE, text=True)
    try:
        port = int(link.stdout.readline().split()[1])
        c = socket.create_connection(("127.0.0.1", port))
        c.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        times = []
        for _ in range(count):
            t0 = time.perf_counter()
            c.sendall(b"x" * 64)
            got = 0
            while got < 64:
                got += len(c.recv(64 - got))
            times.append((time.perf_counter() - t0) * 1000)
        print(f"round trip through delay_link: asked {rtt:g} ms, measured median "
              f"{statistics.median(times):.2f} ms (min {min(times):.2f}, max {max(times):.2f}, "
              f"{count} ping-pongs)")
    finally:
        link.terminate()
        link.wait()


main()
