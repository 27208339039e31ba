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

A list of lines or numbers must be a list (or another iterable), never one str or bytes, and a
single text (free data, the key table) must be a str or bytes: anything else raises TypeError.

The library is looked for beside this module (where a wheel puts libvudaduv.so.1 with the two
transport libraries it needs), then at the path in the environment variable VUDADUV_LIBRARY, then
as the installed libvudaduv.so.1 on the system's search path; on Windows its name is VUDADUV.dll.

For those who want them, the six exports are here as they are (vudaduv.WQTCPSend and so on,
taking a pointer to a request record and returning the result code), with the records
WQStringList, WQValueList, WQTCP, WQST and WQCOMM as ctypes structures.
"""

import ctypes
import ctypes.util
import os
import re
import sys

try:
    from ._version import __version__  # written by the build, from the project's version
except ImportError:  # the module as it stands in the source tree
    __version__ = "0+unknown"

__all__ = [
    "Scale", "SerialScale", "VudaduvError", "NothingToSendError", "TransportFailedError",
    "UploadFileFailedError", "WQStringList", "WQValueList", "WQTCP", "WQST", "WQCOMM",
    "WQ_OK", "WQ_NOTHING_TO_SEND", "WQ_TRANSPORT_FAILED", "WQ_UPLOAD_FILE_FAILED",
    "EXPORTS", "load_library", "string_list", "value_list",
]

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

    def __init__(self, export, code):
        self.export = export
        self.code = code
        meaning = self.MEANINGS.get(code, "an unknown result code")
        super().__init__(f"{export} returned {code} ({meaning})")


class NothingToSendError(VudaduvError):
    pass


class TransportFailedError(VudaduvError):
    """.upload_lines: what the scales that did answer sent, as upload lines."""

    upload_lines = []


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
if sys.platform == "win32":
    _BUNDLED = ("WQDATASEND.dll", "WQCOMMSEND.dll", "VUDADUV.dll")
else:
    _BUNDLED = ("libwqdatasend.so.1", "libwqcommsend.so.1", "libvudaduv.so.1")


def _library_candidates():
    """Where the library is looked for, in order: each candidate a list of files to load in turn,
    the library last."""
    folder = os.path.dirname(os.path.abspath(__file__))
    bundled = [os.path.join(folder, name) for name in _BUNDLED]
    if os.path.exists(bundled[-1]):
        yield [path for path in bundled if os.path.exists(path)]
    if os.environ.get("VUDADUV_LIBRARY"):
        yield [os.environ["VUDADUV_LIBRARY"]]
    if sys.platform == "win32":
        yield [ctypes.util.find_library("VUDADUV") or _BUNDLED[-1]]  # PATH, which LoadLibrary skips
    else:
        yield [_BUNDLED[-1]]  # by its SONAME: LD_LIBRARY_PATH, ldconfig's cache


def load_library(path=None):
    """Loads the library (from path, or where it is looked for) with the six exports declared."""
    # On 32-bit Windows the exports are __stdcall; elsewhere WinDLL and CDLL call alike.
    loader = ctypes.WinDLL if sys.platform == "win32" else ctypes.CDLL
    candidates = [[path]] if path else list(_library_candidates())
    errors = []
    for files in candidates:
        try:
            # The transports first, so that the library finds them loaded under their names.
            library = [loader(file) for file in files][-1]
            break
        except OSError as error:
            errors.append(f"{files[-1]}: {error}")
    else:
        raise OSError("the vudaduv library cannot be loaded (set VUDADUV_LIBRARY to its path): "
                      + "; ".join(errors))
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


def string_list(strings):
    """A WQStringList of the strings (str in GBK, bytes as they are); it keeps them alive."""
    encoded = [_to_bytes(s) for s in _many(strings)]
    items = (ctypes.c_char_p * len(encoded))(*encoded)
    return WQStringList(ctypes.cast(items, ctypes.POINTER(ctypes.c_char_p)) if encoded else None,
                        len(encoded))


def value_list(values):
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

    def __init__(self, code_page):
        self.code_page = code_page

    def _call(self, record_type, lines):
        raise NotImplementedError

    def send(self, record_type, lines=()):
        """Sends data lines of one record type; the upload lines this call added, as str."""
        before = _read_upload_file()
        try:
            self._call(record_type, string_list(lines))
        except TransportFailedError as error:
            # What the scales that did answer sent is in the upload file all the same.
            error.upload_lines = _added_upload_lines(before, _read_upload_file())
            raise
        return _added_upload_lines(before, _read_upload_file())

    def download_items(self, lines):
        """Item records, "<item>A<fields>##<text1>##<text2>##<text3>" (type 1)."""
        return self.send(1, lines)

    def read_items(self, numbers):
        """The items of these numbers, as "1P..." upload lines (type 2)."""
        return self.send(2, _numbers(numbers))

    def download_messages(self, lines):
        """Text messages 0 to 22, "<number>A<text>" (type 3)."""
        return self.send(3, lines)

    def read_messages(self, numbers):
        """Type 3 messages, as "3P..." upload lines (type 4)."""
        return self.send(4, _numbers(numbers))

    def download_type5_messages(self, lines):
        """Text messages 0 to 32, "<number>A<text>" (type 5)."""
        return self.send(5, lines)

    def read_type5_messages(self, numbers):
        """Type 5 messages, as "5P..." upload lines (type 6)."""
        return self.send(6, _numbers(numbers))

    def download_free_data(self, text):
        """Free data, sent as it is (type 7)."""
        return self.send(7, [_text(text)])

    def read_free_data(self):
        """The free data, as "7P..." upload lines (type 8)."""
        return self.send(8)

    def set_clock(self):
        """Sets the scale's clock to this computer's local time (type 9)."""
        return self.send(9)

    def download_labels(self, lines):
        """Label texts 0 to 15, "<label>A<text1>B<text2>" (type 10)."""
        return self.send(10, lines)

    def read_labels(self, numbers):
        """Label texts, as "10P..." upload lines (type 11)."""
        return self.send(11, _numbers(numbers))

    def download_key_table(self, table):
        """The key table, exactly 568 bytes (type 12)."""
        return self.send(12, [_text(table)])

    def read_key_table(self):
        """The key table, as a "12P..." upload line (type 13)."""
        return self.send(13)


class Scale(_ScaleBase):
    """Scales on the network: "host", "host:port", "[v6addr]:port"; the port is 4001 unless given.

    code_page=True sends and reads texts as three-digit code-page text (the En exports).
    settings, a list of the transport's six values (reply time-out ms, connect time-out ms,
    retries, default port, longest reply line, pause before the first retry ms; a missing value
    or 0 means the default), goes through WQTCPSendST / WQTCPSendSTEn.
    """

    def __init__(self, *addresses, code_page=False, settings=None):
        super().__init__(code_page)
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
        _call_export(export, request)


class SerialScale(_ScaleBase):
    """A scale on a serial line that the application opened and configured: link is its file
    descriptor (a HANDLE on Windows)."""

    def __init__(self, link, code_page=False):
        super().__init__(code_page)
        self.link = link

    def _call(self, record_type, lines):
        export = "WQCOMMSendEn" if self.code_page else "WQCOMMSend"
        request = WQCOMM(self.link & 0xFFFFFFFF, lines, record_type)
        _call_export(export, request)
