"""Brings every scale to hold three items and says how each one ended.

Usage: python3 fleet_sync.py ADDRESS...  (without addresses: the test's virtual scales)
"""
import os
import sys

import vudaduv

ITEMS = ["12A0100000599##苹果##Apple", "13A0100000350##香蕉##Banana",
         "14A0100001200##橙子##Orange"]

addresses = sys.argv[1:] or (os.environ.get("VUDADUV_TEST_FLEET", "").split()
                             + os.environ.get("VUDADUV_TEST_SCALE_DOWN", "").split())
if not addresses:
    sys.exit(__doc__)

try:
    # The state directory keeps what each scale confirmed: the next run sends only the changes.
    with vudaduv.Fleet(state_dir="scale-state", timeout_ms=2000) as fleet:
        result = fleet.sync(addresses, ITEMS)
except vudaduv.FleetError as error:  # nothing was done: the state directory busy or unusable
    sys.exit(f"nothing done: {error.message}")

# A scale that is off or failed is no exception: each one says how it ended, and why.
for scale in result:
    print(f"{scale.address}: {scale.status}, {scale.confirmed} confirmed, "
          f"{scale.pending} pending" + (f"; {scale.cause}" if scale.cause else ""))
sys.exit(0 if result.ok else 1)
