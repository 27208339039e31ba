"""Download data to label scales and read it back, through the vudaduv library.

    import vudaduv
    scale = vudaduv.Scale("192.168.1.50")
    scale.download_items(["12A0100000599##苹果##Apple"])
    for line in scale.read_items([12]):
        print(line)                     # 1P0012A0100000599##苹果##Apple

Data lines are given as str (converted to GBK) or as bytes (passed as they are); the upload lines
that a call adds to "Rec.txt" in the current directory come back as str, decoded from GBK (bytes
that are no GBK decode to lone surrogates and encode back to the same bytes). A result code other
than 0 raises VudaduvError, which names the export and the code.

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

The library is looked for beside this module (where a wheel puts libvudaduv.so.1 with the two
transport libraries it needs), then at the path in the environment variable VUDADUV_LIBRARY, then
as the installed libvudaduv.so.1 on the system's search path; on Windows its name is VUDADUV.dll.

For those who want them, the six exports are here as they are (vudaduv.WQTCPSend and so on,
taking a pointer to a request record and returning the result code), with the records
WQStringList, WQValueList, WQTCP, WQST and WQCOMM as ctypes structures.

Many scales at once: Fleet, over the fleet library (libvudaduv_fleet.so.1, VUDADUV_FLEET.dll),
found as the library is (beside this module, then VUDADUV_FLEET_LIBRARY, then the system's):

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

import collections
import collections.abc
import ctypes
import ctypes.util
import enum
import os
import queue
import re
import sys
import threading
from typing import (Any, Callable, Dict, Iterable, Iterator, List, NamedTuple, Optional,
                    Sequence, Tuple, Union)

try:
    from ._version import __version__  # written by the build, from the project's version
except ImportError:  # the module as it stands in the source tree
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

# A text for the library of the six exports: str (sent as GBK) or bytes (sent as they are).
Text = Union[str, bytes, bytearray]
# progress(phase, done, total): phase "reading", "reading in full" or "sending"; a true return
# stops the call.
Progress = Callable[[str, int, int], Any]

WQ_OK = 0
WQ_NOTHING_TO_SEND = -1
WQ_TRANSPORT_FAILED = -2
WQ_UPLOAD_FILE_FAILED = -3

UPLOAD_FILE = "Rec.txt"
ENCODING = "gbk"


class WQStringList(ctypes.Structure):
    _fields_ = [("items", ctypes.POINTER(ctypes.c_char_p)), ("count", ctypes.c_uint32)]


class WQValueList(ctypes.Structure):
    _fields_ = [("items", ctypes.POINTER(ctypes.c_uint32)), ("count", ctypes.c_uint32)]


class WQTCP(ctypes.Structure):
    _fields_ = [("targets", WQStringList), ("lines", WQStringList),
                ("record_type", ctypes.c_uint32)]


class WQST(ctypes.Structure):
    _fields_ = [("targets", WQStringList), ("lines", WQStringList), ("values", WQValueList),
                ("record_type", ctypes.c_uint32)]


class WQCOMM(ctypes.Structure):
    _fields_ = [("link", ctypes.c_uint32), ("lines", WQStringList),
                ("record_type", ctypes.c_uint32)]


# Each export and the record it takes.
EXPORTS = {
    "WQTCPSend": WQTCP, "WQTCPSendEn": WQTCP,
    "WQTCPSendST": WQST, "WQTCPSendSTEn": WQST,
    "WQCOMMSend": WQCOMM, "WQCOMMSendEn": WQCOMM,
}


class VudaduvError(Exception):
    """An export returned a result code other than 0; .export and .code say which."""

    MEANINGS = {
        WQ_NOTHING_TO_SEND: "WQ_NOTHING_TO_SEND: no command line came out of the data lines; "
                            "nothing was sent and Rec.txt was not touched",
        WQ_TRANSPORT_FAILED: "WQ_TRANSPORT_FAILED: the transport failed; Rec.txt was rewritten",
        WQ_UPLOAD_FILE_FAILED: "WQ_UPLOAD_FILE_FAILED: Rec.txt could not be written",
    }

    def __init__(self, export: str, code: int) -> None:
        self.export = export
        self.code = code
        meaning = self.MEANINGS.get(code, "an unknown result code")
        super().__init__(f"{export} returned {code} ({meaning})")


class NothingToSendError(VudaduvError):
    pass


class TransportFailedError(VudaduvError):
    """.upload_lines: what the scales that did answer sent, as upload lines. .outcomes: what each
    address did when asked once more after the send (see the module's text); the message names
    those that failed."""

    upload_lines: List[str] = []
    outcomes: List[TransportOutcome] = []

    def name_the_causes(self, outcomes: Iterable[TransportOutcome]) -> None:
        """Adds what each scale that failed did to the message."""
        self.outcomes = list(outcomes)
        failed = [f"{o.address} {o.cause} ({o.code_name})" for o in self.outcomes if not o.ok]
        if failed:
            self.args = (f"{self.args[0]}; asked again: " + ", ".join(failed),)
        elif self.outcomes:
            self.args = (f"{self.args[0]}; every scale answered when asked again",)


class UploadFileFailedError(VudaduvError):
    pass


_ERRORS = {
    WQ_NOTHING_TO_SEND: NothingToSendError,
    WQ_TRANSPORT_FAILED: TransportFailedError,
    WQ_UPLOAD_FILE_FAILED: UploadFileFailedError,
}


def _call_export(export, request):
    code = getattr(_loaded(), export)(ctypes.byref(request))
    if code != WQ_OK:
        raise _ERRORS.get(code, VudaduvError)(export, code)


# The files a package may carry beside this module, each after those it needs: the library last.
# The fleet library holds its own transport and needs no other.
if sys.platform == "win32":
    _BUNDLED = ("WQDATASEND.dll", "WQCOMMSEND.dll", "VUDADUV.dll")
    _BUNDLED_FLEET = ("VUDADUV_FLEET.dll",)
else:
    _BUNDLED = ("libwqdatasend.so.1", "libwqcommsend.so.1", "libvudaduv.so.1")
    _BUNDLED_FLEET = ("libvudaduv_fleet.so.1",)


def _library_candidates(bundled_names=_BUNDLED, variable="VUDADUV_LIBRARY"):
    """Where a library is looked for, in order: each candidate a list of files to load in turn,
    the library last."""
    folder = os.path.dirname(os.path.abspath(__file__))
    bundled = [os.path.join(folder, name) for name in bundled_names]
    if os.path.exists(bundled[-1]):
        yield [path for path in bundled if os.path.exists(path)]
    if os.environ.get(variable):
        yield [os.environ[variable]]
    if sys.platform == "win32":
        # PATH, which LoadLibrary skips
        yield [ctypes.util.find_library(bundled_names[-1][:-4]) or bundled_names[-1]]
    else:
        yield [bundled_names[-1]]  # by its SONAME: LD_LIBRARY_PATH, ldconfig's cache


def _load_first(candidates, what, variable):
    # On 32-bit Windows the exports are __stdcall; elsewhere WinDLL and CDLL call alike.
    loader = ctypes.WinDLL if sys.platform == "win32" else ctypes.CDLL
    errors = []
    for files in candidates:
        try:
            # The transports first, so that the library finds them loaded under their names.
            return [loader(file) for file in files][-1]
        except OSError as error:
            errors.append(f"{files[-1]}: {error}")
    raise OSError(f"the {what} cannot be loaded (set {variable} to its path): "
                  + "; ".join(errors))


def load_library(path: Optional[str] = None) -> ctypes.CDLL:
    """Loads the library (from path, or where it is looked for) with the six exports declared."""
    candidates = [[path]] if path else list(_library_candidates())
    library = _load_first(candidates, "vudaduv library", "VUDADUV_LIBRARY")
    for export, record in EXPORTS.items():
        function = getattr(library, export)
        function.argtypes = [ctypes.POINTER(record)]
        function.restype = ctypes.c_int32
    return library


_library = None


def _loaded():
    global _library
    if _library is None:
        _library = load_library()
    return _library


def __getattr__(name):
    # The raw exports, loaded on first use: vudaduv.WQTCPSend(ctypes.byref(request)).
    if name in EXPORTS:
        return getattr(_loaded(), name)
    raise AttributeError(f"module 'vudaduv' has no attribute '{name}'")


_TEXT_TYPES = (str, bytes, bytearray)


def _text(value):
    """One text for the library: a str or bytes, nothing that would only turn into one."""
    if not isinstance(value, _TEXT_TYPES):
        raise TypeError(f"one text (str or bytes) is wanted, not {type(value).__name__}: {value!r}")
    return value


def _many(values):
    """A list of lines or numbers as a list; one str or bytes would be taken apart into
    characters, each sent as a line of its own."""
    if isinstance(values, _TEXT_TYPES):
        raise TypeError(f"a list is wanted, not one {type(values).__name__}: {values!r}")
    return list(values)


def _to_bytes(text):
    text = _text(text)
    data = text if isinstance(text, (bytes, bytearray)) else text.encode(ENCODING,
                                                                        "surrogateescape")
    if b"\0" in data:
        raise ValueError(f"a string for the library holds a NUL byte: {text!r}")
    return bytes(data)


def string_list(strings: Iterable[Text]) -> WQStringList:
    """A WQStringList of the strings (str in GBK, bytes as they are); it keeps them alive."""
    encoded = [_to_bytes(s) for s in _many(strings)]
    items = (ctypes.c_char_p * len(encoded))(*encoded)
    return WQStringList(ctypes.cast(items, ctypes.POINTER(ctypes.c_char_p)) if encoded else None,
                        len(encoded))


def value_list(values: Iterable[int]) -> WQValueList:
    """A WQValueList of unsigned 32-bit values; it keeps them alive."""
    values = list(values)
    items = (ctypes.c_uint32 * len(values))(*values)
    return WQValueList(ctypes.cast(items, ctypes.POINTER(ctypes.c_uint32)) if values else None,
                       len(values))


def _read_upload_file():
    try:
        with open(UPLOAD_FILE, "rb") as file:
            return file.read()
    except FileNotFoundError:
        return b""


_UPLOAD_LINE_PREFIXES = (b"1P", b"3P", b"5P", b"7P", b"10P", b"12P")


def _rewritten_lines(text):
    """What the library's rewrite makes of upload lines it wrote earlier: a line that begins with an
    upload line's prefix stays whole (white space around it removed); any other line splits at
    white space into tokens, one per line."""
    lines = []
    for line in re.split(rb"[\r\n]", text):
        stripped = line.strip(b" \t\v\f")
        if stripped.startswith(_UPLOAD_LINE_PREFIXES):
            lines.append(stripped)
        else:
            lines.extend(line.split())
    return lines


def _added_upload_lines(before, after):
    """The upload lines that a call added to the upload file.

    The transport appends the scale's replies to what the file held, then the library rewrites
    the whole file: the upload lines that were there come through unchanged, ahead of the new
    ones. When the file does not begin with the old lines, everything in it counts as new.
    """
    old = b"".join(line + b"\r\n" for line in _rewritten_lines(before))
    new = after[len(old):] if after.startswith(old) else after
    return [line.decode(ENCODING, "surrogateescape") for line in new.split(b"\r\n") if line]


def _numbers(numbers):
    return [str(number) if isinstance(number, int) else number for number in _many(numbers)]


class _ScaleBase:
    """What every scale offers; the subclasses say how it is reached."""

    def __init__(self, code_page: bool) -> None:
        self.code_page = code_page

    def _call(self, record_type, lines):
        raise NotImplementedError

    def send(self, record_type: int, lines: Iterable[Text] = ()) -> List[str]:
        """Sends data lines of one record type; the upload lines this call added, as str."""
        before = _read_upload_file()
        try:
            self._call(record_type, string_list(lines))
        except TransportFailedError as error:
            # What the scales that did answer sent is in the upload file all the same.
            error.upload_lines = _added_upload_lines(before, _read_upload_file())
            raise
        return _added_upload_lines(before, _read_upload_file())

    def download_items(self, lines: Iterable[Text]) -> List[str]:
        """Item records, "<item>A<fields>##<text1>##<text2>##<text3>" (type 1)."""
        return self.send(1, lines)

    def read_items(self, numbers: Iterable[Union[int, Text]]) -> List[str]:
        """The items of these numbers, as "1P..." upload lines (type 2)."""
        return self.send(2, _numbers(numbers))

    def download_messages(self, lines: Iterable[Text]) -> List[str]:
        """Text messages 0 to 22, "<number>A<text>" (type 3)."""
        return self.send(3, lines)

    def read_messages(self, numbers: Iterable[Union[int, Text]]) -> List[str]:
        """Type 3 messages, as "3P..." upload lines (type 4)."""
        return self.send(4, _numbers(numbers))

    def download_type5_messages(self, lines: Iterable[Text]) -> List[str]:
        """Text messages 0 to 32, "<number>A<text>" (type 5)."""
        return self.send(5, lines)

    def read_type5_messages(self, numbers: Iterable[Union[int, Text]]) -> List[str]:
        """Type 5 messages, as "5P..." upload lines (type 6)."""
        return self.send(6, _numbers(numbers))

    def download_free_data(self, text: Text) -> List[str]:
        """Free data, sent as it is (type 7)."""
        return self.send(7, [_text(text)])

    def read_free_data(self) -> List[str]:
        """The free data, as "7P..." upload lines (type 8)."""
        return self.send(8)

    def set_clock(self) -> List[str]:
        """Sets the scale's clock to this computer's local time (type 9)."""
        return self.send(9)

    def download_labels(self, lines: Iterable[Text]) -> List[str]:
        """Label texts 0 to 15, "<label>A<text1>B<text2>" (type 10)."""
        return self.send(10, lines)

    def read_labels(self, numbers: Iterable[Union[int, Text]]) -> List[str]:
        """Label texts, as "10P..." upload lines (type 11)."""
        return self.send(11, _numbers(numbers))

    def download_key_table(self, table: Text) -> List[str]:
        """The key table, exactly 568 bytes (type 12)."""
        return self.send(12, [_text(table)])

    def read_key_table(self) -> List[str]:
        """The key table, as a "12P..." upload line (type 13)."""
        return self.send(13)


class TransportOutcome(NamedTuple):
    """What one address did: code and code_name the transport's (WQDS_ codes of wqdatasend.h),
    cause in words ("" when it answered)."""

    address: Text
    code: int
    code_name: str
    cause: str

    @property
    def ok(self) -> bool:
        return self.code == 0


# The transport's outcomes of one scale (wqdatasend.h) in words.
TRANSPORT_CAUSES = {
    0: "",
    1: "a bad request",
    2: "no such host, or a bad address",
    3: "refused or unreachable",
    4: "timed out",
    5: "closed by the scale",
    6: "a reply too long",
    8: "a failure of this machine",
}

_WQDS_VALUES = 4  # reply time-out, connect time-out, retries, port: the settings a probe takes


def transport_outcomes(addresses: Iterable[Text],
                       settings: Optional[Sequence[int]] = None) -> List[TransportOutcome]:
    """What each address does now when asked for its free data (a read that changes nothing on
    the scale and writes no "Rec.txt"), with the time-outs and port of settings, one try each:
    a TransportOutcome an address. Needs the fleet library."""
    values = (list(settings or []) + [0] * _WQDS_VALUES)[:_WQDS_VALUES]
    addresses = list(addresses)
    texts = [a.decode(ENCODING) if isinstance(a, (bytes, bytearray)) else a for a in addresses]
    with Fleet(timeout_ms=max(values[0], values[1]), tries=1, port=values[3]) as fleet:
        try:
            scales = fleet.read_scales(texts, types=[7])
            found = [(scale.code, scale.code_name, TRANSPORT_CAUSES.get(scale.code, scale.cause))
                     for scale in scales]
        except FleetArgumentError:
            # The library reads no scale of a list that holds an address it refuses: each is
            # asked alone then.
            found = [_asked_alone(fleet, text) for text in texts]
    return [TransportOutcome(address, *outcome) for address, outcome in zip(addresses, found)]


def _asked_alone(fleet, address):
    """(code, code_name, cause) of one address asked alone; one the library refuses is what the
    transport made of it, a bad address."""
    try:
        scale = fleet.read_scales([address], types=[7])[0]
    except FleetArgumentError:
        return 2, "WQDS_BAD_ADDRESS", TRANSPORT_CAUSES[2]
    return scale.code, scale.code_name, TRANSPORT_CAUSES.get(scale.code, scale.cause)


class Scale(_ScaleBase):
    """Scales on the network: "host", "host:port", "[v6addr]:port"; the port is 4001 unless given.
    One address, several, or one list of them: Scale("a"), Scale("a", "b"), Scale(["a", "b"]).

    code_page=True sends and reads texts as three-digit code-page text (the En exports).
    settings, a list of the transport's six values (reply time-out ms, connect time-out ms,
    retries, default port, longest reply line, pause before the first retry ms; a missing value
    or 0 means the default), goes through WQTCPSendST / WQTCPSendSTEn.

    A failed send raises TransportFailedError naming what each scale that failed did when asked
    again (see the module's text).
    """

    def __init__(self, *addresses: Union[Text, Iterable[Text]], code_page: bool = False,
                 settings: Optional[Sequence[int]] = None) -> None:
        super().__init__(code_page)
        if len(addresses) == 1 and not isinstance(addresses[0], _TEXT_TYPES):
            if not isinstance(addresses[0], collections.abc.Iterable):
                raise TypeError(f"an address (str or bytes) or a list of them is wanted, not "
                                f"{type(addresses[0]).__name__}: {addresses[0]!r}")
            addresses = list(addresses[0])
        if not addresses:
            raise ValueError("Scale needs at least one address")
        self.addresses = [_text(address) for address in addresses]
        self.settings = None if settings is None else list(settings)

    def _call(self, record_type, lines):
        targets = string_list(self.addresses)
        if self.settings is None:
            export = "WQTCPSendEn" if self.code_page else "WQTCPSend"
            request = WQTCP(targets, lines, record_type)
        else:
            export = "WQTCPSendSTEn" if self.code_page else "WQTCPSendST"
            request = WQST(targets, lines, value_list(self.settings), record_type)
        try:
            _call_export(export, request)
        except TransportFailedError as error:
            error.name_the_causes(self._outcomes_after_failure())
            raise

    def _outcomes_after_failure(self):
        # The send failed whatever this finds: nothing here may hide that error.
        try:
            return transport_outcomes(self.addresses, self.settings)
        except Exception:  # no fleet library, an address it cannot take
            return []


class SerialScale(_ScaleBase):
    """A scale on a serial line that the application opened and configured: link is its file
    descriptor (a HANDLE on Windows)."""

    def __init__(self, link: int, code_page: bool = False) -> None:
        super().__init__(code_page)
        self.link = link

    def _call(self, record_type, lines):
        export = "WQCOMMSendEn" if self.code_page else "WQCOMMSend"
        request = WQCOMM(self.link & 0xFFFFFFFF, lines, record_type)
        _call_export(export, request)


# ---- Many scales at once: the fleet library ----------------------------------------------------

VDFLEET_OK = 0
VDFLEET_SCALES = 1  # from 1.1.0: done, but not every scale as asked (1.0 returned -7)
VDFLEET_E_ARGUMENT = -1
VDFLEET_E_SESSION = -2
VDFLEET_E_TEXT = -3
VDFLEET_E_FAILED = -4
VDFLEET_E_STOPPED = -5
VDFLEET_E_BUSY = -6
VDFLEET_E_SCALES = -7  # 1.0's VDFLEET_SCALES; never returned from 1.1.0
VDFLEET_E_FINDINGS = -8
VDFLEET_E_LOCKED = -9
VDFLEET_E_STATE = -10
VDFLEET_E_MEMORY = -11


def fleet_code_name(code: int) -> str:
    """The library's name of a code ("VDFLEET_UNKNOWN" for one it does not know)."""
    return _fleet_loaded().VDFleetCodeName(code).decode("ascii")


class _FleetCodeNames:
    """FLEET_CODE_NAMES[code] and .get(code, default), asked of the library."""

    def __getitem__(self, code: int) -> str:
        return fleet_code_name(code)

    def get(self, code: int, default: Optional[str] = None) -> str:
        name = fleet_code_name(code)
        return default if name == "VDFLEET_UNKNOWN" and default is not None else name


FLEET_CODE_NAMES = _FleetCodeNames()

_TEXT_UTF8 = 1

# The fields of result rows (vudaduv_fleet_c.h).
_LINE, _FIELD, _WHAT, _KEY, _TYPE, _NUMBER, _RECORD, _ADDRESS = range(1, 9)
_CODE, _CODE_NAME, _CAUSE, _IMAGE, _RECORDS, _KIND, _BEFORE, _AFTER = range(9, 17)
_STATUS_NAME = 18
_PLANNED, _REMOVALS, _WRITTEN, _CONFIRMED, _PENDING, _UNCHANGED, _PROBED, _DIFFERING = range(19, 27)

_KINDS = {1: "added", 2: "removed", 3: "changed"}
_PHASES = {1: "reading", 2: "reading in full", 3: "sending"}

_CAP_PERCENT, _CAP_COUNT, _CAP_ALL = 0, 1, 2
_SYNC_REMOVE_MISSING, _SYNC_DRY_RUN, _SYNC_READ_SCALES, _SYNC_NO_READ_BACK = 1, 2, 4, 8
_SYNC_NO_PROBE = 16
_SYNC_ACCEPT_CHANGES = 32
LAST_ITEM = 4000


class VDFleetOptions(ctypes.Structure):
    _fields_ = [("size", ctypes.c_uint32), ("text", ctypes.c_uint32), ("en", ctypes.c_uint32),
                ("timeout_ms", ctypes.c_uint32), ("tries", ctypes.c_uint32),
                ("port", ctypes.c_uint32), ("state_dir", ctypes.c_char_p)]


class VDFleetSyncRequest(ctypes.Structure):
    _fields_ = [("size", ctypes.c_uint32), ("record_type", ctypes.c_uint32),
                ("lines", ctypes.POINTER(ctypes.c_char_p)), ("line_count", ctypes.c_uint32),
                ("image", ctypes.c_char_p), ("addresses", ctypes.POINTER(ctypes.c_char_p)),
                ("address_count", ctypes.c_uint32), ("flags", ctypes.c_uint32),
                ("cap_kind", ctypes.c_uint32), ("cap_value", ctypes.c_uint32),
                ("probe", ctypes.c_uint32), ("reserved", ctypes.c_uint32)]


_FUNCTION_TYPE = ctypes.WINFUNCTYPE if sys.platform == "win32" else ctypes.CFUNCTYPE
_PROGRESS = _FUNCTION_TYPE(ctypes.c_int32, ctypes.c_void_p, ctypes.c_uint32, ctypes.c_uint32,
                           ctypes.c_uint32)

_SESSION = ctypes.c_void_p
_STRINGS = ctypes.POINTER(ctypes.c_char_p)
_FLEET_FUNCTIONS = {
    "VDFleetVersion": [],
    "VDFleetOpen": [ctypes.POINTER(VDFleetOptions), ctypes.POINTER(ctypes.c_void_p)],
    "VDFleetClose": [_SESSION],
    "VDFleetLastError": [_SESSION, ctypes.c_char_p, ctypes.c_uint32],
    "VDFleetSetProgress": [_SESSION, _PROGRESS, ctypes.c_void_p],
    "VDFleetCancel": [_SESSION],
    "VDFleetResultCount": [_SESSION, ctypes.POINTER(ctypes.c_uint32)],
    "VDFleetResultText": [_SESSION, ctypes.c_uint32, ctypes.c_uint32, ctypes.c_char_p,
                          ctypes.c_uint32],
    "VDFleetResultNumber": [_SESSION, ctypes.c_uint32, ctypes.c_uint32,
                            ctypes.POINTER(ctypes.c_int64)],
    "VDFleetCheck": [_SESSION, ctypes.c_uint32, _STRINGS, ctypes.c_uint32],
    "VDFleetReadImage": [_SESSION, ctypes.c_char_p],
    "VDFleetDiff": [_SESSION, ctypes.c_char_p, ctypes.c_char_p],
    "VDFleetReadScales": [_SESSION, _STRINGS, ctypes.c_uint32, ctypes.POINTER(ctypes.c_uint32),
                          ctypes.c_uint32, ctypes.c_int32, ctypes.c_int32],
    "VDFleetSync": [_SESSION, ctypes.POINTER(VDFleetSyncRequest)],
    "VDFleetCodeName": [ctypes.c_int32],
}


def load_fleet_library(path: Optional[str] = None) -> ctypes.CDLL:
    """Loads the fleet library (from path, or beside this module, then VUDADUV_FLEET_LIBRARY,
    then the system's) with its functions declared."""
    candidates = [[path]] if path else list(_library_candidates(_BUNDLED_FLEET,
                                                                "VUDADUV_FLEET_LIBRARY"))
    library = _load_first(candidates, "fleet library", "VUDADUV_FLEET_LIBRARY")
    for name, arguments in _FLEET_FUNCTIONS.items():
        function = getattr(library, name)
        function.argtypes = arguments
        function.restype = ctypes.c_char_p if name == "VDFleetCodeName" else ctypes.c_int32
    return library


_fleet_library = None


def _fleet_loaded():
    global _fleet_library
    if _fleet_library is None:
        _fleet_library = load_fleet_library()
    return _fleet_library


class FleetError(VudaduvError):
    """A fleet function returned a code other than VDFLEET_OK: .function, .code, .code_name and
    .message, the library's text of the last error. .result: what the call left, when it left
    rows (a SyncResult, or the list of a read), else None."""

    def __init__(self, function: str, code: int, message: str, result: Any = None) -> None:
        self.export = self.function = function
        self.code = code
        self.code_name = FLEET_CODE_NAMES.get(code, "an unknown code")
        self.message = message
        self.result = result
        Exception.__init__(self, f"{function} returned {code} ({self.code_name})"
                                 + (f": {message}" if message else ""))


class FleetStopped(FleetError):
    """Stopped by cancel() or the progress function; .result tells each scale."""


class FleetBusyError(FleetError):
    """Another call runs on the fleet (another thread, or the progress function)."""


class FleetTextError(FleetError, ValueError):
    """A text the library cannot take: no GBK form, no image text; the message names the line."""


class FleetArgumentError(FleetError, ValueError):
    """A value the library refuses: a record type that stores nothing, no state directory..."""


class FleetFindingsError(FleetError):
    """A sync refused its list: some lines would not arrive on the scales as written (the check
    that check() runs). Nothing was sent; .findings lists them, one Finding each."""

    def __init__(self, function: str, code: int, message: str, result: Any = None) -> None:
        FleetError.__init__(self, function, code, message, None)
        self.findings = list(result or [])


_FLEET_ERRORS = {
    VDFLEET_E_STOPPED: FleetStopped, VDFLEET_E_BUSY: FleetBusyError,
    VDFLEET_E_TEXT: FleetTextError, VDFLEET_E_ARGUMENT: FleetArgumentError,
    VDFLEET_E_FINDINGS: FleetFindingsError,
}


class Finding(NamedTuple):
    """What a check found: the index of the data line, the field, what happens to it, and the
    record the line stores ("item 0042"; "" for a line the library leaves out)."""

    line: int
    field: str
    what: str
    key: str


class Record(NamedTuple):
    """A record of an image: its key ("item 0042"), record type, number (-1 for free data and
    the key table) and image line."""

    key: str
    type: int
    number: int
    record: str


class Difference(NamedTuple):
    """kind "added" or "removed" (before and after the lines, field "") or "changed" (one row a
    field that differs)."""

    kind: str
    key: str
    field: str
    before: str
    after: str


class ScaleImage(NamedTuple):
    """A scale read: the transport's code and its name, why it was not read whole ("" when it
    was), the records that came back intact as an image text, and their number."""

    address: str
    code: int
    code_name: str
    cause: str
    image: str
    records: int

    @property
    def ok(self) -> bool:
        return self.code == 0 and not self.cause


class SyncStatus(str, enum.Enum):
    """What became of a scale in a sync, in a word. A str: it equals the library's name
    (SyncStatus.SYNCED == "synced"), prints as it and goes into JSON as it."""

    IN_STEP = "in-step"                # it held the list already
    SYNCED = "synced"                  # what differed was sent and confirmed
    DRIFT_REPAIRED = "drift-repaired"  # its probe differed from the state: read and repaired
    REFUSED_CAP = "refused-cap"        # it would lose more records than allowed: untouched
    FAILED = "failed"                  # unreachable, unreadable, or not all confirmed
    INTERRUPTED = "interrupted"        # the sync was stopped before it was done with it
    PLANNED = "planned"                # a dry run: its plan holds changes

    def __str__(self) -> str:
        return str(self.value)

    def __hash__(self) -> int:  # as its name's: a dict keyed by the names finds it
        return str.__hash__(self)

    def __format__(self, spec: str) -> str:
        return format(str(self.value), spec)

    @property
    def ok(self) -> bool:
        """The scale ended as the sync asked."""
        return self in _AS_ASKED


# The statuses of a scale that ended as the sync asked.
_AS_ASKED = (SyncStatus.IN_STEP, SyncStatus.SYNCED, SyncStatus.DRIFT_REPAIRED,
             SyncStatus.PLANNED)


def _sync_status(name: str) -> Union[SyncStatus, str]:
    """The status of a row; a name a later library may add stays a plain str."""
    try:
        return SyncStatus(name)
    except ValueError:
        return name


class ScaleSync(NamedTuple):
    """What a sync did with one scale (see the module's text)."""

    address: str
    status: Union[SyncStatus, str]
    planned: int
    removals: int
    written: int
    confirmed: int
    pending: int
    unchanged: int
    probed: int
    differing: int
    code: int
    code_name: str
    cause: str

    @property
    def ok(self) -> bool:
        return self.status in _AS_ASKED


class SyncResult:
    """The outcome of a sync: iterable over one ScaleSync a scale, in the order of the addresses.
    ok: every scale as asked; failed: those that are not; code: VDFLEET_OK, VDFLEET_SCALES,
    VDFLEET_E_STOPPED (in FleetStopped.result) or VDFLEET_E_STATE (the state not written, in
    FleetError.result); message: the library's words ("" when all went well)."""

    def __init__(self, scales: Iterable[ScaleSync], code: int, message: str) -> None:
        self.scales = list(scales)
        self.code = code
        self.code_name = FLEET_CODE_NAMES.get(code, "an unknown code")
        self.message = message

    @property
    def ok(self) -> bool:
        return self.code == VDFLEET_OK and all(scale.ok for scale in self.scales)

    @property
    def failed(self) -> List[ScaleSync]:
        return [scale for scale in self.scales if not scale.ok]

    def __iter__(self) -> Iterator[ScaleSync]:
        return iter(self.scales)

    def __len__(self) -> int:
        return len(self.scales)

    def __getitem__(self, index: int) -> ScaleSync:
        return self.scales[index]

    def __repr__(self) -> str:
        return f"SyncResult({self.code_name}, {self.scales!r})"


def _utf8(text, what):
    """One text for a fleet: a str, sent as UTF-8."""
    if not isinstance(text, str):
        raise TypeError(f"{what}: a str is wanted, not {type(text).__name__}: {text!r}")
    if "\0" in text:
        raise ValueError(f"{what} holds a NUL character: {text!r}")
    # A lone surrogate is no text; the library would refuse its bytes anyway.
    return text.encode("utf-8", "surrogatepass")


def _utf8_list(texts, what):
    """A list of texts as a C array that keeps them alive; None for an empty list."""
    encoded = [_utf8(text, what) for text in _many(texts)]
    return (ctypes.c_char_p * len(encoded))(*encoded) if encoded else None, len(encoded)


def _uint32(value, what):
    if isinstance(value, bool) or not isinstance(value, int) or not 0 <= value < 2 ** 32:
        raise ValueError(f"{what}: a whole number from 0 to 4294967295 is wanted, not {value!r}")
    return value


def _removal_cap(max_remove):
    """The C record's cap kind and value of None, a number of records, "N%" or "all"."""
    if max_remove is None:
        return _CAP_PERCENT, 0
    if isinstance(max_remove, str):
        text = max_remove.strip()
        if text == "all":
            return _CAP_ALL, 0
        if text.endswith("%") and text[:-1].strip().isdigit() and int(text[:-1]) > 0:
            return _CAP_PERCENT, _uint32(int(text[:-1]), "max_remove")
        if text.isdigit():
            return _CAP_COUNT, _uint32(int(text), "max_remove")
        raise ValueError(f"max_remove: a number, \"N%\" (N above 0) or \"all\", not {max_remove!r}")
    return _CAP_COUNT, _uint32(max_remove, "max_remove")


class _StoppableCall:
    """A read or sync that a signal can stop. The C call runs on a thread of its own while the
    calling thread waits in short steps: Python runs a signal's handler on the main thread alone,
    between its own steps, never inside a C call, so Ctrl-C there raises KeyboardInterrupt
    within a step. The exception cancels the call (VDFleetCancel), waits until the library has
    returned (it keeps in its state what the scales confirmed) and goes on up.

    The progress function is called on the calling thread: the library's call of it on the
    worker waits until the calling thread has answered, so a true return stops the call at that
    very count, and an exception in it stops the call and comes out once the call has returned.
    """

    _STEP = 0.1  # seconds: the longest a signal waits (Windows wakes no waiting thread for one)

    def __init__(self, library: Any, session: Any, function: str, arguments: Tuple[Any, ...],
                 progress: Optional[Progress]) -> None:
        self._cancel = lambda: library.VDFleetCancel(session)
        self._progress = progress
        self._stop = False
        self._told: queue.Queue = queue.Queue()    # (phase, done, total), None once it returned
        self._answers: queue.Queue = queue.Queue()  # the progress function's answers
        self._code: Optional[int] = None
        self._error: Optional[BaseException] = None
        self.function = _PROGRESS(self._tell)  # the library's progress function for the call
        self._thread = threading.Thread(target=self._run, name=f"vudaduv {function}",
                                        args=(getattr(library, function), session, arguments),
                                        daemon=True)

    def _run(self, function: Any, session: Any, arguments: Tuple[Any, ...]) -> None:
        try:
            self._code = function(session, *arguments)
        except BaseException as error:  # ctypes' own: raised again on the calling thread
            self._error = error
        finally:
            self._told.put(None)

    def _tell(self, user: Any, phase: int, done: int, total: int) -> int:
        """On the worker, inside the C call: nothing may unwind through C from here."""
        if self._stop:
            return 1
        if self._progress is None:
            return 0
        self._told.put((_PHASES.get(phase, str(phase)), done, total))
        while True:
            try:
                return 1 if self._answers.get(timeout=self._STEP) else 0
            except queue.Empty:
                if self._stop:  # the calling thread left its loop: its answer may never come
                    return 1

    def run(self) -> int:
        """The call's code, once it has returned; what the call, the progress function or a
        signal raised, once it has returned."""
        try:
            self._thread.start()
            self._serve()
        except BaseException:
            self._stop = True
            self._cancel()
            self._finish()
            raise
        if self._error is not None:
            raise self._error
        assert self._code is not None
        return self._code

    def _serve(self) -> None:
        while True:
            try:
                told = self._told.get(timeout=self._STEP)
            except queue.Empty:
                if not self._thread.is_alive() and self._told.empty():
                    return
                continue
            if told is None:
                return
            assert self._progress is not None
            stop = bool(self._progress(*told))
            self._stop = self._stop or stop
            self._answers.put(stop)

    def _finish(self) -> None:
        """Waits for the call to return after a stop, however often Ctrl-C comes meanwhile."""
        while self._thread.is_alive():
            try:
                self._thread.join(self._STEP)
            except KeyboardInterrupt:
                self._cancel()


class Fleet:
    """A session of the fleet library: many scales at once (see the module's text)."""

    def __init__(self, *, code_page: bool = False, timeout_ms: int = 0, tries: int = 0,
                 port: int = 0, state_dir: Optional[Union[str, bytes, os.PathLike]] = None,
                 library: Optional[ctypes.CDLL] = None) -> None:
        self._library = library if library is not None else _fleet_loaded()
        self._lock = threading.Lock()  # the session's life, against a cancel() from elsewhere
        self._session = None
        state = None if state_dir is None else _utf8(os.fsdecode(state_dir), "state_dir")
        options = VDFleetOptions(ctypes.sizeof(VDFleetOptions), _TEXT_UTF8, 1 if code_page else 0,
                                 _uint32(timeout_ms, "timeout_ms"), _uint32(tries, "tries"),
                                 _uint32(port, "port"), state)
        session = ctypes.c_void_p()
        code = self._library.VDFleetOpen(ctypes.byref(options), ctypes.byref(session))
        if code != VDFLEET_OK:
            raise _FLEET_ERRORS.get(code, FleetError)(
                "VDFleetOpen", code, "the state directory is no text" if code == VDFLEET_E_TEXT
                else "")
        self._session = session

    def __enter__(self) -> Fleet:
        return self

    def __exit__(self, *exception: Any) -> None:
        self.close()

    def __del__(self) -> None:
        try:
            self.close()
        except Exception:  # in a call on another thread: the session stays, as the library says
            pass

    @property
    def closed(self) -> bool:
        return self._session is None

    def close(self) -> None:
        """Frees the session; closing twice does nothing. FleetBusyError while a call runs."""
        with self._lock:
            if self._session is None:
                return
            code = self._library.VDFleetClose(self._session)
            if code != VDFLEET_OK:
                raise _FLEET_ERRORS.get(code, FleetError)("VDFleetClose", code,
                                                          "a call runs on the fleet")
            self._session = None

    def cancel(self) -> None:
        """Stops the running read or sync soon after (or the next one at its start). Safe from
        any thread; does nothing once the fleet is closed."""
        with self._lock:
            if self._session is not None:
                self._library.VDFleetCancel(self._session)

    # ---- calls and results

    def _open_session(self):
        session = self._session
        if session is None:
            raise ValueError("the fleet is closed")
        return session

    def _copy(self, function, *arguments):
        """A text the library copies out, whole, decoded from UTF-8; or the negative code."""
        size = 256
        while True:
            buffer = ctypes.create_string_buffer(size)
            length = function(self._open_session(), *arguments, buffer, size)
            if length < 0:
                return length
            if length < size:
                return buffer.raw[:length].decode("utf-8", "replace")
            size = length + 1

    def last_error(self) -> str:
        """The library's text of the last error ("" after a call that succeeded)."""
        text = self._copy(self._library.VDFleetLastError)
        return "" if isinstance(text, int) else text

    def _check(self, function, code):
        if code < 0:
            raise _FLEET_ERRORS.get(code, FleetError)(function, code, self.last_error())
        return code

    def _row_count(self):
        count = ctypes.c_uint32()
        self._check("VDFleetResultCount",
                    self._library.VDFleetResultCount(self._open_session(), ctypes.byref(count)))
        return count.value

    def _text(self, row, field):
        text = self._copy(self._library.VDFleetResultText, row, field)
        return self._check("VDFleetResultText", text) if isinstance(text, int) else text

    def _number(self, row, field):
        value = ctypes.c_int64()
        self._check("VDFleetResultNumber", self._library.VDFleetResultNumber(
            self._open_session(), row, field, ctypes.byref(value)))
        return value.value

    def _rows(self, make):
        return [make(row) for row in range(self._row_count())]

    def _call(self, function: str, *arguments: Any) -> int:
        return getattr(self._library, function)(self._open_session(), *arguments)

    def _call_stoppable(self, function: str, *arguments: Any,
                        progress: Optional[Progress] = None) -> int:
        """Calls a read or sync so that Ctrl-C stops it (see _StoppableCall), with the progress
        function set for this call alone."""
        session = self._open_session()
        if progress is not None and not callable(progress):
            raise TypeError(f"progress: a callable is wanted, not {progress!r}")
        call = _StoppableCall(self._library, session, function, arguments, progress)
        self._check("VDFleetSetProgress",
                    self._library.VDFleetSetProgress(session, call.function, None))
        try:
            return call.run()
        finally:
            self._library.VDFleetSetProgress(session, _PROGRESS(), None)

    # ---- data lines and images

    def check(self, record_type: int, lines: Iterable[str]) -> List[Finding]:
        """Checks data lines of a stored record type (1, 3, 5, 7, 10, 12) the whole way a
        download and its read-back go, without a scale: one Finding a change the lines would
        undergo, in line order; an empty list when every line comes back as written."""
        array, count = _utf8_list(lines, "a data line")
        self._check("VDFleetCheck", self._call("VDFleetCheck", _uint32(record_type, "record_type"),
                                               array, count))
        return self._rows(self._finding)

    def _finding(self, row):
        return Finding(self._number(row, _LINE), self._text(row, _FIELD), self._text(row, _WHAT),
                       self._text(row, _KEY))

    def read_image(self, text: str) -> List[Record]:
        """The records of an image text (one upload line a record), in record order."""
        self._check("VDFleetReadImage", self._call("VDFleetReadImage", _utf8(text, "the image")))
        return self._rows(lambda row: Record(self._text(row, _KEY), self._number(row, _TYPE),
                                             self._number(row, _NUMBER),
                                             self._text(row, _RECORD)))

    def diff(self, image_a: str, image_b: str) -> List[Difference]:
        """Where image_b differs from image_a, in record order."""
        self._check("VDFleetDiff", self._call("VDFleetDiff", _utf8(image_a, "image a"),
                                              _utf8(image_b, "image b")))
        return self._rows(lambda row: Difference(
            _KINDS.get(self._number(row, _KIND), "changed"), self._text(row, _KEY),
            self._text(row, _FIELD), self._text(row, _BEFORE), self._text(row, _AFTER)))

    # ---- scales

    def _scale_image(self, row):
        return ScaleImage(self._text(row, _ADDRESS), self._number(row, _CODE),
                          self._text(row, _CODE_NAME), self._text(row, _CAUSE),
                          self._text(row, _IMAGE), self._number(row, _RECORDS))

    def _scale_sync(self, row):
        return ScaleSync(self._text(row, _ADDRESS), _sync_status(self._text(row, _STATUS_NAME)),
                         *(self._number(row, field) for field in range(_PLANNED, _DIFFERING + 1)),
                         self._number(row, _CODE), self._text(row, _CODE_NAME),
                         self._text(row, _CAUSE))

    def _outcome(self, function, code, make_result):
        """The result of a read or sync: returned when it reached the scales, raised otherwise;
        a stop or a state left unwritten carries the rows too."""
        if code in (VDFLEET_OK, VDFLEET_SCALES, VDFLEET_E_SCALES):
            return make_result()
        message = self.last_error()
        result = None
        if code in (VDFLEET_E_STOPPED, VDFLEET_E_FAILED, VDFLEET_E_STATE) and self._row_count() > 0:
            result = make_result()
        if code == VDFLEET_E_FINDINGS:
            result = self._rows(self._finding)
        raise _FLEET_ERRORS.get(code, FleetError)(function, code, message, result)

    def read_scales(self, addresses: Iterable[str], types: Optional[Iterable[int]] = None,
                    first_item: int = 0, last_item: int = LAST_ITEM,
                    progress: Optional[Progress] = None) -> List[ScaleImage]:
        """Reads every slot of the record types (None: 1, 3, 5, 7, 10 and 12), items first_item
        to last_item, from every scale at once: one ScaleImage a scale, in the order of the
        addresses. Scales that fail are in the list, not raised."""
        array, count = _utf8_list(addresses, "an address")
        kinds = [_uint32(kind, "a record type") for kind in _many(types or [])]
        type_array = (ctypes.c_uint32 * len(kinds))(*kinds) if kinds else None
        code = self._call_stoppable("VDFleetReadScales", array, count, type_array, len(kinds),
                                    int(first_item), int(last_item), progress=progress)
        return self._outcome("VDFleetReadScales", code,
                             lambda: self._rows(self._scale_image))

    def sync(self, addresses: Iterable[str], lines: Optional[Iterable[str]] = None,
             record_type: int = 1, image: Optional[str] = None, remove_missing: bool = False,
             max_remove: Optional[Union[int, str]] = None, dry_run: bool = False,
             read_scales: bool = False, read_back: bool = True, probe: int = 8,
             progress: Optional[Progress] = None, accept_changes: bool = False) -> SyncResult:
        """Brings every scale to hold the data lines (or the records of image), all at once,
        with the fleet's state directory: a SyncResult. Scales that fail are in the result, not
        raised; a stop raises FleetStopped with the result. A list with lines that would not
        arrive as written raises FleetFindingsError with its .findings, nothing sent, unless
        accept_changes is true."""
        if image is not None and lines is not None:
            raise ValueError("sync takes lines or an image, not both")
        line_array, line_count = _utf8_list([] if lines is None else lines, "a data line")
        address_array, address_count = _utf8_list(addresses, "an address")
        cap_kind, cap_value = _removal_cap(max_remove)
        probe = _uint32(probe, "probe")
        flags = ((_SYNC_REMOVE_MISSING if remove_missing else 0) |
                 (_SYNC_DRY_RUN if dry_run else 0) | (_SYNC_READ_SCALES if read_scales else 0) |
                 (0 if read_back else _SYNC_NO_READ_BACK) | (0 if probe else _SYNC_NO_PROBE) |
                 (_SYNC_ACCEPT_CHANGES if accept_changes else 0))
        request = VDFleetSyncRequest(
            ctypes.sizeof(VDFleetSyncRequest), _uint32(record_type, "record_type"),
            ctypes.cast(line_array, _STRINGS) if line_array else None, line_count,
            None if image is None else _utf8(image, "the image"),
            ctypes.cast(address_array, _STRINGS) if address_array else None, address_count,
            flags, cap_kind, cap_value, probe)
        code = self._call_stoppable("VDFleetSync", ctypes.byref(request), progress=progress)
        message = self.last_error() if code != VDFLEET_OK else ""
        return self._outcome("VDFleetSync", code,
                             lambda: SyncResult(self._rows(self._scale_sync), code, message))
