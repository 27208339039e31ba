"""Many scales at once: Fleet, over the fleet library (vudaduv_fleet_c.h), its records, result
rows as named tuples, the statuses of a sync, and its errors; a read or sync runs so that Ctrl-C
and cancel() stop it, its progress function called on the calling thread. The names of codes,
statuses and transport outcomes are the library's own."""

from __future__ import annotations

import ctypes
import enum
import os
import queue
import sys
import threading
from typing import (Any, Callable, Iterable, Iterator, List, NamedTuple, Optional, Tuple,
                    Union)

from . import _native
from ._exports import VudaduvError, many

# progress(phase, done, total): phase "reading", "reading in full" or "sending"; a true return
# stops the call.
Progress = Callable[[str, int, int], Any]

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
    """Loads the fleet library (from path, or beside this package, then VUDADUV_FLEET_LIBRARY,
    then the system's) with its functions declared."""
    library = _native.load(path, _native.FLEET_FILES, "fleet library", "VUDADUV_FLEET_LIBRARY")
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
    encoded = [_utf8(text, what) for text in many(texts)]
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
        kinds = [_uint32(kind, "a record type") for kind in many(types or [])]
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
