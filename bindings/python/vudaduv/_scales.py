"""Scales through the six exports, in Python's idiom: Scale (the network exports) and SerialScale
(the serial ones) send data lines of a record type and give back, as str, the upload lines the
call added to "Rec.txt"; a failed send names what each address did when asked once more, through
the fleet library."""

from __future__ import annotations

import collections.abc
from typing import Iterable, List, Optional, Sequence, Union

from ._exports import (ENCODING, TEXT_TYPES, UPLOAD_FILE, WQCOMM, WQST, WQTCP, Text,
                       TransportFailedError, TransportOutcome, call_export, many, one_text,
                       rewrite_upload_file, string_list, value_list)
from ._fleet import Fleet, FleetArgumentError


def _read_upload_file() -> bytes:
    try:
        with open(UPLOAD_FILE, "rb") as file:
            return file.read()
    except FileNotFoundError:
        return b""


def _upload_file_as_rewritten(code_page: bool) -> bytes:
    """What "Rec.txt" holds before a send, in the form the send's rewrite will give it: the
    library rewrites the file first (a file it wrote last is in that form already; one written
    otherwise, by hand or by a transport whose process ended before the rewrite, is not)."""
    before = _read_upload_file()
    if not before:
        return before
    rewrite_upload_file(code_page)
    return _read_upload_file()


def _added_upload_lines(before: bytes, after: bytes) -> List[str]:
    """The upload lines that a call added to the upload file.

    The transport appends the scale's replies to what the file held, then the library rewrites
    the whole file: the upload lines that were there (before, as rewritten) come through
    unchanged, ahead of the new ones. When the file does not begin with them (another program
    changed it meanwhile), everything in it counts as new.
    """
    new = after[len(before):] if after.startswith(before) else after
    return [line.decode(ENCODING, "surrogateescape") for line in new.split(b"\r\n") if line]


def _numbers(numbers: Iterable[Union[int, Text]]) -> List[Text]:
    return [str(number) if isinstance(number, int) else number for number in many(numbers)]


class _ScaleBase:
    """What every scale offers; the subclasses say how it is reached."""

    def __init__(self, code_page: bool) -> None:
        self.code_page = code_page

    def _call(self, record_type, lines):
        raise NotImplementedError

    def send(self, record_type: int, lines: Iterable[Text] = ()) -> List[str]:
        """Sends data lines of one record type; the upload lines this call added, as str."""
        data = string_list(lines)  # a line refused before the file is touched
        before = _upload_file_as_rewritten(self.code_page)
        try:
            self._call(record_type, data)
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
        return self.send(7, [one_text(text)])

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
        return self.send(12, [one_text(table)])

    def read_key_table(self) -> List[str]:
        """The key table, as a "12P..." upload line (type 13)."""
        return self.send(13)


# The transport's outcomes of one scale (wqdatasend.h) in words, kept for callers; an outcome's
# cause is the fleet library's own text (the code's cause and the lines answered).
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
            # The cause in the library's own words, the phrasing the tool gives too.
            found = [(scale.code, scale.code_name, scale.cause) for scale in scales]
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
    return scale.code, scale.code_name, scale.cause


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
        if len(addresses) == 1 and not isinstance(addresses[0], TEXT_TYPES):
            if not isinstance(addresses[0], collections.abc.Iterable):
                raise TypeError(f"an address (str or bytes) or a list of them is wanted, not "
                                f"{type(addresses[0]).__name__}: {addresses[0]!r}")
            addresses = list(addresses[0])
        if not addresses:
            raise ValueError("Scale needs at least one address")
        self.addresses = [one_text(address) for address in addresses]
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
            call_export(export, request)
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
        call_export(export, request)
