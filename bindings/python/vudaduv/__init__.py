"""Download data to label scales and read it back, through the vudaduv library.

    import vudaduv
    scale = vudaduv.Scale("192.168.1.50")
    scale.download_items(["12A0100000599##苹果##Apple"])
    for line in scale.read_items([12]):
        print(line)                     # 1P0012A0100000599##苹果##Apple

Data lines are given as str (converted to GBK) or as bytes (passed as they are); the upload lines
that a call adds to "Rec.txt" in the current directory come back as str, decoded from GBK (bytes
that are no GBK decode to lone surrogates and encode back to the same bytes). A result code other
than 0 raises VudaduvError, which names the export and the code. A "Rec.txt" that the library did
not write last (one written by hand, say) the library rewrites before the call, as the call
itself would, so that only the lines the call added come back.

Scale takes one address, several (Scale("10.0.0.5", "10.0.0.6")) or a list of them. The library
returns one code for a whole send and keeps no outcome per scale, and "Rec.txt" does not say which
scale a reply came from; so when a send fails (TransportFailedError), the module asks every
address once more with one read that changes nothing (through the fleet library, when it is
there) and the error names what each scale that failed then did: "refused or unreachable",
"timed out", "closed by the scale", "no such host, or a bad address". error.outcomes holds one
TransportOutcome(address, code, code_name, cause) an address; it is empty when the fleet library
is missing or the second asking could not be made.

A list of lines or numbers must be a list (or another iterable), never one str or bytes, and a
single text (free data, the key table) must be a str or bytes: anything else raises TypeError.

The library is looked for beside this package (where a wheel puts libvudaduv.so.1 with the two
transport libraries it needs), then at the path in the environment variable VUDADUV_LIBRARY, then
as the installed libvudaduv.so.1 on the system's search path; on Windows its name is VUDADUV.dll.

For those who want them, the six exports are here as they are (vudaduv.WQTCPSend and so on,
taking a pointer to a request record and returning the result code), with the records
WQStringList, WQValueList, WQTCP, WQST and WQCOMM as ctypes structures.

Many scales at once: Fleet, over the fleet library (libvudaduv_fleet.so.1, VUDADUV_FLEET.dll),
found as the library is (beside this package, then VUDADUV_FLEET_LIBRARY, then the system's):

    with vudaduv.Fleet(state_dir="/var/lib/shop/scales") as fleet:
        result = fleet.sync(["10.0.0.5", "10.0.0.6"], ["12A0100000599##苹果##Apple"])
        for scale in result:
            print(scale.address, scale.status, scale.cause)

Fleet(code_page=False, timeout_ms=0, tries=0, port=0, state_dir=None): every text in and out is
a str (the session works in UTF-8; a character GBK lacks raises FleetTextError); code_page=True
is the scales' code-page mode; 0 means the transport's default (3000 ms, 3 tries, port 4001); a
sync needs state_dir; library=load_fleet_library(path) takes a fleet library of one's choice.
Use it from one thread at a time; cancel() alone may come from any thread. close() (or the end
of a with block) frees it.

    check(record_type, lines)        -> [Finding(line, field, what, key)], empty when all come
                                        back as written
    read_image(text)                 -> [Record(key, type, number, record)]
    diff(image_a, image_b)           -> [Difference(kind, key, field, before, after)],
                                        kind "added", "removed" or "changed"
    read_scales(addresses, types=None, first_item=0, last_item=4000, progress=None)
                                     -> [ScaleImage(address, code, code_name, cause, image,
                                         records)], .ok when it was read whole
    sync(addresses, lines=None, record_type=1, image=None, remove_missing=False,
         max_remove=None, dry_run=False, read_scales=False, read_back=True, probe=8,
         progress=None, accept_changes=False) -> SyncResult
    cancel()                         stops the running call (or the next one) soon after

sync brings the scales to hold the data lines of one stored record type (or, with image, the
records of an image text: a restore). max_remove caps what remove_missing may empty on a scale:
None for 10 %, a number of records, "25%", or "all". probe=0 reads nothing back before the plan.
A SyncResult iterates over one ScaleSync a scale, in the order of the addresses: address, status
(a SyncStatus, a str enum equal to the library's name: "in-step", "synced", "drift-repaired",
"refused-cap", "failed", "interrupted", "planned"; a name a later library adds stays a str),
planned, removals, written, confirmed, pending, unchanged, probed, differing, code and code_name
(the transport's outcome, "WQDS_REFUSED"), cause ("" when it is as asked) and ok. The result's
ok is True when every scale is as asked, failed lists those that are not, code is VDFLEET_OK or
VDFLEET_SCALES and message the library's words.

Scales that fail are no exception: a sync or read that reached some scales returns, and each
scale says whether it is ok and why not, as a shop wants to go on with the rest. Everything else
raises a FleetError (a VudaduvError) with .function, .code, .code_name and .message, the
library's text of the last error: FleetStopped when the call was stopped (.result, a SyncResult
or the list of a read, tells each scale; the next sync sends the rest), FleetBusyError when
another call runs on the fleet, FleetTextError for a text the library cannot take (a line, an
image, an address) and FleetArgumentError for a value it refuses (both also ValueError). A sync
first runs check() on its list: lines that would not arrive as written raise FleetFindingsError,
whose .findings are the Finding of each, and nothing is sent; accept_changes=True sends all the
same (as the tool's --accept-changes; lines that cannot be sent at all leave their record alone).

progress(phase, done, total) is called on the calling thread while a read or sync runs: phase
"reading", "reading in full" or "sending", the command lines answered in the phase and those it
sends in all (0 when not known); a true return stops the call (FleetStopped). An exception in it
stops the call as well and is raised again once the call has returned.

Ctrl-C during a read or sync raises KeyboardInterrupt within about a tenth of a second: the
library's call runs on a thread of its own while the calling thread waits in short steps, so the
signal reaches Python; it cancels the call, and the exception goes on once the library has
returned, the state keeping what the scales confirmed (the next sync sends the rest). A scale
that could not be reached or read has planned and pending as its state foresees them.

The package carries type hints and py.typed, for type checkers.
"""

from __future__ import annotations

from typing import Any

from ._exports import (EXPORTS, WQ_NOTHING_TO_SEND, WQ_OK, WQ_TRANSPORT_FAILED,
                       WQ_UPLOAD_FILE_FAILED, WQCOMM, WQST, WQTCP, NothingToSendError, Text,
                       TransportFailedError, TransportOutcome, UploadFileFailedError,
                       VudaduvError, WQStringList, WQValueList, load_library, loaded,
                       string_list, value_list)
from ._fleet import (FLEET_CODE_NAMES, LAST_ITEM, VDFLEET_E_ARGUMENT, VDFLEET_E_BUSY,
                     VDFLEET_E_FAILED, VDFLEET_E_FINDINGS, VDFLEET_E_LOCKED, VDFLEET_E_MEMORY,
                     VDFLEET_E_SCALES, VDFLEET_E_SESSION, VDFLEET_E_STATE, VDFLEET_E_STOPPED,
                     VDFLEET_E_TEXT, VDFLEET_OK, VDFLEET_SCALES, Difference, Finding, Fleet,
                     FleetArgumentError, FleetBusyError, FleetError, FleetFindingsError,
                     FleetStopped, FleetTextError, Progress, Record, ScaleImage, ScaleSync,
                     SyncResult, SyncStatus, VDFleetOptions, VDFleetSyncRequest, fleet_code_name,
                     load_fleet_library)
from ._scales import TRANSPORT_CAUSES, Scale, SerialScale, transport_outcomes

try:
    from ._version import __version__  # written by the build, from the project's version
except ImportError:  # the package as it stands in the source tree
    __version__ = "0+unknown"

__all__ = [
    "Scale", "SerialScale", "VudaduvError", "NothingToSendError", "TransportFailedError",
    "UploadFileFailedError", "WQStringList", "WQValueList", "WQTCP", "WQST", "WQCOMM",
    "WQ_OK", "WQ_NOTHING_TO_SEND", "WQ_TRANSPORT_FAILED", "WQ_UPLOAD_FILE_FAILED",
    "EXPORTS", "load_library", "string_list", "value_list", "TransportOutcome",
    "TRANSPORT_CAUSES", "transport_outcomes", "FLEET_CODE_NAMES", "LAST_ITEM",
    "Fleet", "FleetError", "FleetStopped", "FleetBusyError", "FleetTextError",
    "FleetArgumentError", "FleetFindingsError", "Finding", "Record", "Difference", "ScaleImage", "ScaleSync",
    "SyncResult", "VDFleetOptions", "VDFleetSyncRequest", "load_fleet_library",
    "VDFLEET_OK", "VDFLEET_E_ARGUMENT", "VDFLEET_E_SESSION", "VDFLEET_E_TEXT", "VDFLEET_E_FAILED",
    "VDFLEET_E_STOPPED", "VDFLEET_E_BUSY", "VDFLEET_E_SCALES", "VDFLEET_E_FINDINGS", "VDFLEET_SCALES", "VDFLEET_E_LOCKED", "VDFLEET_E_STATE",
    "VDFLEET_E_MEMORY", "fleet_code_name", "SyncStatus", "Text", "Progress",
]


def __getattr__(name: str) -> Any:
    # The raw exports, loaded on first use: vudaduv.WQTCPSend(ctypes.byref(request)).
    if name in EXPORTS:
        return getattr(loaded(), name)
    raise AttributeError(f"module 'vudaduv' has no attribute '{name}'")
