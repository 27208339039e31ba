"""A shop's program that syncs a list, run by fleet_test.py, which sends it SIGINT in the middle
of the send (as Ctrl-C does). It prints "syncing" as it calls sync, and with --progress, which
gives sync a progress function, "sending" once 30 lines are answered; when the KeyboardInterrupt
comes, "KeyboardInterrupt" and the time it came (time.monotonic()), and it lets the exception
end the program as any Python program ends on Ctrl-C.

Usage: ctrl_c_sync.py [--progress] STATE_DIR FIRST_ITEM COUNT ADDRESS...
"""

import signal
import sys
import time

import vudaduv

# Python sets its own Ctrl-C handler only where SIGINT is not ignored; a test runner started in
# the background hands it on ignored. A program started from a terminal has it anyway.
signal.signal(signal.SIGINT, signal.default_int_handler)

arguments = sys.argv[1:]
with_progress = arguments[0] == "--progress"
state, first, count, *addresses = arguments[1:] if with_progress else arguments
lines = [f"{n}A5##Flour {n}" for n in range(int(first), int(first) + int(count))]
told = []


def progress(phase, done, total):
    if phase == "sending" and done >= 30 and not told:
        told.append(done)
        print("sending", flush=True)


with vudaduv.Fleet(state_dir=state, timeout_ms=1000, tries=1) as fleet:
    try:
        print("syncing", flush=True)
        fleet.sync(addresses, lines, progress=progress if with_progress else None)
    except KeyboardInterrupt:
        print(f"KeyboardInterrupt {time.monotonic()!r}", flush=True)
        raise
print("the sync ran to its end", flush=True)
