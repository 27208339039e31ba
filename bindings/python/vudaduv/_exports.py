"""The six exports of the library (vudaduv.h) as ctypes declares them: the request records, the
result codes and their exceptions, and the lists of texts and values the records hold."""

from __future__ import annotations

import ctypes
from typing import Any, Iterable, List, NamedTuple, Optional, Union

from . import _native

# A text for the library of the six exports: str (sent as GBK) or bytes (sent as they are).
Text = Union[str, bytes, bytearray]

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


def call_export(export: str, request: Any) -> None:
    """Calls an export of the loaded library; a code other than WQ_OK raises its exception."""
    code = getattr(loaded(), export)(ctypes.byref(request))
    if code != WQ_OK:
        raise _ERRORS.get(code, VudaduvError)(export, code)

def load_library(path: Optional[str] = None) -> ctypes.CDLL:
    """Loads the library (from path, or where it is looked for) with the six exports declared."""
    library = _native.load(path, _native.LIBRARY_FILES, "vudaduv library", "VUDADUV_LIBRARY")
    for export, record in EXPORTS.items():
        function = getattr(library, export)
        function.argtypes = [ctypes.POINTER(record)]
        function.restype = ctypes.c_int32
    return library


_library = None


def loaded() -> Any:
    """The library, loaded on first use."""
    global _library
    if _library is None:
        _library = load_library()
    return _library


TEXT_TYPES = (str, bytes, bytearray)


def one_text(value: Any) -> Text:
    """One text for the library: a str or bytes, nothing that would only turn into one."""
    if not isinstance(value, TEXT_TYPES):
        raise TypeError(f"one text (str or bytes) is wanted, not {type(value).__name__}: {value!r}")
    return value


def many(values: Any) -> List[Any]:
    """A list of lines or numbers as a list; one str or bytes would be taken apart into
    characters, each sent as a line of its own."""
    if isinstance(values, TEXT_TYPES):
        raise TypeError(f"a list is wanted, not one {type(values).__name__}: {values!r}")
    return list(values)


def _to_bytes(text: Any) -> bytes:
    text = one_text(text)
    data = text if isinstance(text, (bytes, bytearray)) else text.encode(ENCODING,
                                                                        "surrogateescape")
    if b"\0" in data:
        raise ValueError(f"a string for the library holds a NUL byte: {text!r}")
    return bytes(data)


def string_list(strings: Iterable[Text]) -> WQStringList:
    """A WQStringList of the strings (str in GBK, bytes as they are); it keeps them alive."""
    encoded = [_to_bytes(s) for s in many(strings)]
    items = (ctypes.c_char_p * len(encoded))(*encoded)
    return WQStringList(ctypes.cast(items, ctypes.POINTER(ctypes.c_char_p)) if encoded else None,
                        len(encoded))


def value_list(values: Iterable[int]) -> WQValueList:
    """A WQValueList of unsigned 32-bit values; it keeps them alive."""
    values = list(values)
    items = (ctypes.c_uint32 * len(values))(*values)
    return WQValueList(ctypes.cast(items, ctypes.POINTER(ctypes.c_uint32)) if values else None,
                       len(values))


_READ_FREE_DATA = 8  # a record type that needs no data line


def rewrite_upload_file(code_page: bool) -> None:
    """Has the library rewrite "Rec.txt" as every send rewrites it, sending nothing: a request
    without targets the transport refuses before it connects anywhere (WQDS_BAD_REQUEST), and
    the rewrite runs all the same. Its code (WQ_TRANSPORT_FAILED, or WQ_UPLOAD_FILE_FAILED for a
    file that cannot be written) is of no use here: the send that follows meets the same file."""
    request = WQTCP(string_list([]), string_list([]), _READ_FREE_DATA)
    getattr(loaded(), "WQTCPSendEn" if code_page else "WQTCPSend")(ctypes.byref(request))
