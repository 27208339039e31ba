"""The Python module against the built library and a virtual scale: every record type that can
be read back goes down and comes back, through each network export and the serial ones; the
result codes come out as exceptions, a failed send naming what each scale did. Runs beside a
virtual scale (VUDADUV_TEST_SCALE, VUDADUV_TEST_SERIAL_LINE, VUDADUV_TEST_FLEET,
VUDADUV_TEST_SCALE_DOWN) in a directory of its own."""

import contextlib
import ctypes
import io
import os
import re
import sys
import unittest

import vudaduv

SCALE = os.environ.get("VUDADUV_TEST_SCALE", "")
SCALE_EN = os.environ.get("VUDADUV_TEST_SCALE_EN", SCALE)
SERIAL_LINE = int(os.environ.get("VUDADUV_TEST_SERIAL_LINE", "-1"))
FLEET = os.environ.get("VUDADUV_TEST_FLEET", "").split()
DOWN = os.environ.get("VUDADUV_TEST_SCALE_DOWN", "")
QUICK = [1000, 1000, 1]  # time-outs in ms, one retry
KEY_TABLE = "".join(str(1000 + key) for key in range(142))[:568]

# (name, code page, download, data lines, read, read numbers, upload lines)
ROUND_TRIPS = [
    ("items", False, "download_items",
     ["0012A0100000599##苹果##Apple##红富士", b"0013A02##\xcf\xe3\xbd\xb6"], "read_items", [12, "13"],
     ["1P0012A0100000599##苹果##Apple##红富士", "1P0013A02##香蕉"]),
    ("items", True, "download_items", ["0014A01##Keep at 4°C##￥4.99"], "read_items", [14],
     ["1P0014A01##Keep at 4°C##￥4.99"]),
    ("messages", False, "download_messages", ["01A欢迎", "11AThanks"], "read_messages", [1, 11],
     ["3P01A欢迎", "3P11AThanks"]),
    ("messages", True, "download_messages", ["02AFresh!"], "read_messages", [2], ["3P02AFresh!"]),
    ("type 5 messages", False, "download_type5_messages", ["03A今日", "17ASee you"],
     "read_type5_messages", [3, 17], ["5P03A今日", "5P17ASee you"]),
    ("type 5 messages", True, "download_type5_messages", ["04Aα-β"], "read_type5_messages", [4],
     ["5P04Aα-β"]),
    ("labels", False, "download_labels", ["01A鲜果B谢谢", "15AOpenBDaily"], "read_labels", [1, 15],
     ["10P01A鲜果B谢谢", "10P15AOpenBDaily"]),
    ("labels", True, "download_labels", ["02AxBy"], "read_labels", [2], ["10P02AxBy"]),
]

# (name, code page, download, argument, read, upload lines)
WHOLE_ROUND_TRIPS = [
    ("free data", False, "download_free_data", "PLU-sync:7", "read_free_data", ["7PPLU-sync:7"]),
    ("free data", True, "download_free_data", "PLU-sync:8", "read_free_data", ["7PPLU-sync:8"]),
    ("key table", False, "download_key_table", KEY_TABLE, "read_key_table", ["12P" + KEY_TABLE]),
    ("key table", True, "download_key_table", KEY_TABLE, "read_key_table", ["12P" + KEY_TABLE]),
]


class InScaleDirectory(unittest.TestCase):
    def setUp(self):
        if not SCALE:
            self.skipTest("no virtual scale (VUDADUV_TEST_SCALE)")
        with contextlib.suppress(FileNotFoundError):
            os.remove("Rec.txt")

    def scales(self, code_page):
        """The scale of one text mode through each network export of that mode."""
        address = SCALE_EN if code_page else SCALE
        return [("TCP", vudaduv.Scale(address, code_page=code_page)),
                ("ST", vudaduv.Scale(address, code_page=code_page, settings=QUICK))]


class RoundTrips(InScaleDirectory):
    def test_every_record_type_comes_back_as_sent(self):
        for name, code_page, download, lines, read, numbers, uploads in ROUND_TRIPS:
            for road, scale in self.scales(code_page):
                with self.subTest(name, code_page=code_page, road=road):
                    self.assertEqual(getattr(scale, download)(lines), [])
                    self.assertEqual(getattr(scale, read)(numbers), uploads)
        for name, code_page, download, argument, read, uploads in WHOLE_ROUND_TRIPS:
            for road, scale in self.scales(code_page):
                with self.subTest(name, code_page=code_page, road=road):
                    self.assertEqual(getattr(scale, download)(argument), [])
                    self.assertEqual(getattr(scale, read)(), uploads)

    def test_one_address_several_or_a_list(self):
        if not FLEET:
            self.skipTest("no virtual fleet (VUDADUV_TEST_FLEET)")
        for addresses in [(SCALE,), (SCALE, FLEET[1]), ([SCALE, FLEET[1]],), ((FLEET[1], SCALE),)]:
            with self.subTest(addresses=addresses):
                scale = vudaduv.Scale(*addresses)
                scale.download_items(["62A##Fig"])
                count = 1 if isinstance(addresses[0], str) and len(addresses) == 1 else 2
                self.assertEqual(scale.read_items([62]), ["1P0062A##Fig"] * count)
        with self.assertRaises(ValueError):
            vudaduv.Scale([])

    def test_the_clock_is_set_without_an_upload_line(self):
        self.assertEqual(vudaduv.Scale(SCALE).set_clock(), [])

    def test_items_over_a_serial_line(self):
        for code_page, item in [(False, "0021A01##梨"), (True, "0022A01##4°C")]:
            scale = vudaduv.SerialScale(SERIAL_LINE, code_page=code_page)
            scale.download_items([item])
            self.assertEqual(scale.read_items([item[:4]]), ["1P" + item])

    def test_a_read_returns_only_the_lines_it_added(self):
        # (what the file held, written by the library or not, as the library's rewrite keeps it)
        cases = [
            (b"1P0001A##kept\r\n", b"1P0001A##kept\r\n"),
            (b"  1P0001A##kept two \t\n\n3P01AHi", b"1P0001A##kept two\r\n3P01AHi\r\n"),
            (b"\r\n \r\n", b""),
        ]
        scale = vudaduv.Scale(SCALE)
        scale.download_items(["2A##new"])
        for before, kept in cases:
            with self.subTest(before=before):
                with open("Rec.txt", "wb") as file:
                    file.write(before)
                self.assertEqual(scale.read_items([2]), ["1P0002A##new"])
                with open("Rec.txt", "rb") as file:
                    self.assertEqual(file.read(), kept + b"1P0002A##new\r\n")

    def test_raw_exports_with_hand_made_records(self):
        request = vudaduv.WQTCP(vudaduv.string_list([SCALE]), vudaduv.string_list(["31A##raw"]), 1)
        self.assertEqual(vudaduv.WQTCPSend(ctypes.byref(request)), vudaduv.WQ_OK)
        request = vudaduv.WQST(vudaduv.string_list([SCALE]), vudaduv.string_list(["31"]),
                               vudaduv.value_list(QUICK), 2)
        self.assertEqual(vudaduv.WQTCPSendST(ctypes.byref(request)), vudaduv.WQ_OK)
        with open("Rec.txt", "rb") as file:
            self.assertEqual(file.read(), b"1P0031A##raw\r\n")

    def test_the_readme_lines(self):
        readme = os.environ.get("VUDADUV_PYTHON_PAGE")
        if not readme:
            self.skipTest("VUDADUV_PYTHON_PAGE not set")
        with open(readme, encoding="utf-8") as file:
            blocks = re.findall(r"```python\n(.*?)```", file.read(), re.S)
        # The Python section's listing of Scale (the fleet's example is run by a test of its own).
        lines = next(block for block in blocks if '"192.168.1.50"' in block)
        # Run against the virtual scale, and only there.
        lines = lines.replace('"192.168.1.50"', repr(SCALE))
        self.assertEqual(re.findall(r"\d+\.\d+\.\d+\.\d+", lines), ["127.0.0.1"])
        output = io.StringIO()
        with contextlib.redirect_stdout(output):
            exec(compile(lines, readme, "exec"), {})
        self.assertEqual(output.getvalue(), "1P0012A0100000599##苹果##Apple\n")


class ResultCodes(InScaleDirectory):
    def test_each_failure_raises_its_exception_naming_the_code(self):
        cases = [
            (vudaduv.Scale(SCALE).read_items, [], vudaduv.NothingToSendError,
             "WQTCPSend returned -1 (WQ_NOTHING_TO_SEND"),
            (vudaduv.Scale(SCALE, code_page=True).download_items, ["no separator"],
             vudaduv.NothingToSendError, "WQTCPSendEn returned -1 (WQ_NOTHING_TO_SEND"),
            (vudaduv.Scale("127.0.0.1:99999", settings=QUICK).read_items, [12],
             vudaduv.TransportFailedError, "WQTCPSendST returned -2 (WQ_TRANSPORT_FAILED"),
        ]
        for call, argument, error, message in cases:
            with self.subTest(message):
                with self.assertRaises(error) as raised:
                    call(argument)
                self.assertIn(message, str(raised.exception))
                self.assertIsInstance(raised.exception, vudaduv.VudaduvError)

    def test_a_failed_send_names_what_each_scale_did(self):
        if not FLEET or not DOWN:
            self.skipTest("no scale that is off (VUDADUV_TEST_SCALE_DOWN)")
        # (address that fails, its code name, words in the message: the library's cause, with
        # the lines answered when the transport tried the address)
        cases = [
            (DOWN, "WQDS_REFUSED", "refused or unreachable (0 of 1 command line(s) answered)"),
            ("127.0.0.1:99999", "WQDS_BAD_ADDRESS", "no such host, or a bad address"),
        ]
        for failing, code_name, words in cases:
            with self.subTest(failing):
                scale = vudaduv.Scale([SCALE, failing, FLEET[0]], settings=QUICK)
                with self.assertRaises(vudaduv.TransportFailedError) as raised:
                    scale.download_items(["61A##Plum"])
                error = raised.exception
                self.assertIn("WQTCPSendST returned -2", str(error))
                self.assertIn(f"asked again: {failing} {words} ({code_name})", str(error))
                self.assertNotIn(SCALE + " ", str(error))
                self.assertEqual([(o.address, o.code_name, o.ok) for o in error.outcomes],
                                 [(SCALE, "WQDS_OK", True), (failing, code_name, False),
                                  (FLEET[0], "WQDS_OK", True)])
                self.assertEqual(error.outcomes[1].cause, words)
                # The scales that answered got the item all the same.
                self.assertEqual(vudaduv.Scale(SCALE, FLEET[0]).read_items([61]),
                                 ["1P0061A##Plum"] * 2)

    def test_without_the_fleet_library_a_failed_send_still_says_its_code(self):
        if not DOWN:
            self.skipTest("no scale that is off (VUDADUV_TEST_SCALE_DOWN)")
        saved = os.environ.pop("VUDADUV_FLEET_LIBRARY", None)
        fleet, native = vudaduv._fleet, vudaduv._native
        loaded, fleet._fleet_library = fleet._fleet_library, None
        missing = native.FLEET_FILES
        native.FLEET_FILES = ("no-such-library.so.1",)
        try:
            with self.assertRaises(vudaduv.TransportFailedError) as raised:
                vudaduv.Scale([DOWN], settings=QUICK).read_items([1])
        finally:
            native.FLEET_FILES, fleet._fleet_library = missing, loaded
            if saved is not None:
                os.environ["VUDADUV_FLEET_LIBRARY"] = saved
        self.assertEqual(raised.exception.outcomes, [])
        self.assertIn("WQTCPSendST returned -2 (WQ_TRANSPORT_FAILED", str(raised.exception))

    def test_lines_the_library_cannot_take_are_refused_before_the_call(self):
        for line in ["12A##a\0b", "12A##\U0001F34E", b"12A\0"]:
            with self.subTest(line=line):
                with self.assertRaises(ValueError):
                    vudaduv.Scale(SCALE).download_items([line])
        self.assertFalse(os.path.exists("Rec.txt"))


class WrongTypes(unittest.TestCase):
    """One text where a list is wanted would go out character by character, and a list where one
    text is wanted would go out as its printed form: both are refused before any call."""

    def test_each_is_a_type_error(self):
        scale = vudaduv.Scale("127.0.0.1:1")
        cases = [
            ("str for item lines", lambda: scale.download_items("12A0100000599##Apple")),
            ("bytes for item lines", lambda: scale.download_items(b"12A0100000599##Apple")),
            ("str for item numbers", lambda: scale.read_items("12")),
            ("str for messages", lambda: scale.download_messages("01Ahi")),
            ("bytearray for labels", lambda: scale.download_labels(bytearray(b"01AxBy"))),
            ("str for label numbers", lambda: scale.read_labels("1")),
            ("str for send's lines", lambda: scale.send(1, "12A##x")),
            ("str for a string list", lambda: vudaduv.string_list("12A##x")),
            ("list for the free data", lambda: scale.download_free_data(["PLU-sync"])),
            ("number for the free data", lambda: scale.download_free_data(7)),
            ("list for the key table", lambda: scale.download_key_table([KEY_TABLE])),
            ("list among the lines", lambda: scale.download_items([["12A##x"]])),
            ("number for an address", lambda: vudaduv.Scale(7)),
            ("number among the addresses", lambda: vudaduv.Scale(["127.0.0.1:1", 7])),
            ("list among the addresses", lambda: vudaduv.Scale([["127.0.0.1:1"]])),
            ("a list and another address", lambda: vudaduv.Scale(["127.0.0.1:1"], "x")),
        ]
        for name, call in cases:
            with self.subTest(name):
                with self.assertRaises(TypeError):
                    call()


@unittest.skipUnless(os.environ.get("VUDADUV_EXPECT_VERSION"), "not the installed wheel")
class InstalledWheel(unittest.TestCase):
    def test_the_version_is_the_projects(self):
        self.assertEqual(vudaduv.__version__, os.environ["VUDADUV_EXPECT_VERSION"])

    def test_the_four_libraries_load_from_the_installed_package(self):
        folder = os.path.dirname(os.path.abspath(vudaduv.__file__))
        self.assertTrue(folder.startswith(sys.prefix), folder)
        vudaduv.load_library()
        with vudaduv.Fleet() as fleet:
            self.assertEqual(fleet.read_image("1P0001A5##牛奶\n")[0].key, "item 0001")
        with open("/proc/self/maps") as maps:
            loaded = {line.split()[-1] for line in maps if ".so" in line}
        for name in ["libvudaduv.so.1", "libwqdatasend.so.1", "libwqcommsend.so.1",
                     "libvudaduv_fleet.so.1"]:
            with self.subTest(name):
                self.assertIn(os.path.join(folder, name), loaded)


if __name__ == "__main__":
    unittest.main()
