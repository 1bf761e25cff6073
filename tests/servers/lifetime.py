"""What every test server shares: the switches common to all, and a life that ends with the test
that started it."""

import argparse
import os
import sys
import threading
import time


def parser(doc):
    """The switches of every test server; each adds its own faults."""
    p = argparse.ArgumentParser(description=doc,
                                formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--root", required=True, help="folder served as /")
    p.add_argument("--port", type=int, default=0, help="0 picks a free port")
    p.add_argument("--user", default="tester")
    p.add_argument("--password", default="secret")
    p.add_argument("--refuse-login", action="store_true", help="every login is refused")
    p.add_argument("--drop-after-bytes", type=int, help="cut the transfer after N bytes of a file")
    p.add_argument("--stall-after-bytes", type=int,
                   help="stop moving data after N bytes of a file, connection kept open")
    p.add_argument("--max-seconds", type=float, default=600)
    return p


def leave(code=0):
    sys.stdout.flush()
    os._exit(code)


def end_with_the_test(max_seconds):
    """Ends the process when its parent (the test) goes away, or after max_seconds, whichever
    comes first."""
    parent, deadline = os.getppid(), time.monotonic() + max_seconds

    def watch():
        while time.monotonic() < deadline and os.getppid() == parent:
            time.sleep(0.5)
        leave()

    threading.Thread(target=watch, daemon=True).start()
