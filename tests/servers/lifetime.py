"""The life of a test server: it ends with the test that started it."""

import os
import stat
import sys
import threading
import time


def leave(code=0):
    sys.stdout.flush()
    os._exit(code)


def end_with_the_test(max_seconds):
    """Ends the process when its standard input (a pipe the test holds) closes, when its parent
    goes away, or after max_seconds, whichever comes first."""
    parent, deadline = os.getppid(), time.monotonic() + max_seconds

    def read_to_the_end():
        try:
            while os.read(0, 4096):
                pass
        finally:
            leave()

    # Only a pipe or socket tells anything by closing; /dev/null or a terminal would end the
    # server at once or never.
    if stat.S_ISFIFO(os.fstat(0).st_mode) or stat.S_ISSOCK(os.fstat(0).st_mode):
        threading.Thread(target=read_to_the_end, daemon=True).start()

    def watch():
        while time.monotonic() < deadline and os.getppid() == parent:
            time.sleep(0.5)
        leave()

    threading.Thread(target=watch, daemon=True).start()
