"""vudaduv.Fleet against the built fleet library and the virtual scales of vudaduv_with_scale
(VUDADUV_TEST_FLEET: three scales; VUDADUV_TEST_SLOW_FLEET: three that answer each line after
3 ms; VUDADUV_TEST_SCALE_DOWN: one that is off): the tables of check, read_image and diff, texts
the library refuses, syncs with one scale off, stops from the progress function, from cancel(),
from an exception and from Ctrl-C in a program of its own, calls made while one runs, the
statuses as a str enum, and the package's type hints."""

import inspect
import json
import os
import signal
import subprocess
import sys
import tempfile
import threading
import time
import typing
import unittest

import vudaduv

FLEET = os.environ.get("VUDADUV_TEST_FLEET", "").split()
SLOW = os.environ.get("VUDADUV_TEST_SLOW_FLEET", "").split()
DOWN = os.environ.get("VUDADUV_TEST_SCALE_DOWN", "")
CTRL_C_PROGRAM = os.path.join(os.path.dirname(os.path.abspath(__file__)), "ctrl_c_sync.py")
SERIAL = os.environ.get("VUDADUV_TEST_SERIAL_SCALE", "")


def items(count, name, first=1):
    return [f"{n}A5##{name} {n}" for n in range(first, first + count)]


def fleet(state=True, **options):
    """A fleet with quick time-outs and, unless state is False, a state directory of its own."""
    if state:
        options["state_dir"] = tempfile.mkdtemp(prefix="state-", dir=".")
    return vudaduv.Fleet(timeout_ms=1000, tries=1, **options)


def empty_states(state_dir, addresses):
    """An empty image for each scale ("127.0.0.1_PORT.txt"): scales known to hold nothing, so
    that a sync probes one empty slot of each instead of reading every slot of slow scales."""
    for address in addresses:
        with open(os.path.join(state_dir, address.replace(":", "_") + ".txt"), "wb"):
            pass


_slow_state = []


def slow_state():
    """The one state of the slow scales, which every test that syncs them shares: it begins as
    scales that hold nothing, and stays true to them (a state of its own for each test would
    not know what the others sent, and its probe would find drift and read every slot)."""
    if not _slow_state:
        _slow_state.append(tempfile.mkdtemp(prefix="slow-state-", dir="."))
        empty_states(_slow_state[0], SLOW)
    return _slow_state[0]


def slow_fleet():
    return vudaduv.Fleet(timeout_ms=1000, tries=1, state_dir=slow_state())


# (record type, lines, findings as (line, field or None for any, a piece of what))
CHECKS = [
    (1, ["1A5##Milk", "12A0100000599##苹果##Apple"], []),
    (1, ["1A1", "5000A7"], [(1, "item number", "5000 becomes 4000")]),
    (1, ["3A5##ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJ"], [(0, "text 1", "cut to")]),
    (3, ["05AHello", "1A1"], []),
    (1, ["1A1", ""], [(1, None, "")]),  # a line that is no record: its field is the library's
    # A line GBK has no form for is a finding, not an error of the call.
    (1, ["1A1", "2A5##\U0001F600"], [(1, "line", "its line has no GBK form")]),
]

# (image text, (key, type, number, record) of each record)
IMAGES = [
    ("", []),
    ("1P0002A1##Tea\r\n\r\n3P05AHi\n", [("item 0002", 1, 2, "1P0002A1##Tea"),
                                         ("message 05", 3, 5, "3P05AHi")]),
    ("7Pfree\n3P05AHi", [("message 05", 3, 5, "3P05AHi"), ("type 7 data", 7, -1, "7Pfree")]),
    ("1P0002A\n", []),
    ("1P0001A5##牛奶\n", [("item 0001", 1, 1, "1P0001A5##牛奶")]),
]

# (image a, image b, rows as (kind, key, field, before, after))
DIFFS = [
    ("1P0001A5##Milk\n", "1P1A5##Milk\n", []),
    ("", "1P0004A1##Tea\n", [("added", "item 0004", "", "", "1P0004A1##Tea")]),
    ("1P0004A1##Tea\n", "", [("removed", "item 0004", "", "1P0004A1##Tea", "")]),
    ("1P0006A1##茶\n", "1P0006A2##咖啡\n", [("changed", "item 0006", "fields", "1", "2"),
                                          ("changed", "item 0006", "text 1", "茶", "咖啡")]),
]


class Tables(unittest.TestCase):
    def setUp(self):
        self.fleet = fleet(state=False)
        self.addCleanup(self.fleet.close)

    def test_check(self):
        for record_type, lines, findings in CHECKS:
            with self.subTest(lines=lines):
                found = self.fleet.check(record_type, lines)
                self.assertEqual(len(found), len(findings), found)
                for finding, (line, field, what) in zip(found, findings):
                    self.assertEqual(finding.line, line)
                    if field is not None:
                        self.assertEqual(finding.field, field)
                    self.assertIn(what, finding.what)

    def test_read_image(self):
        for text, records in IMAGES:
            with self.subTest(text=text):
                self.assertEqual([tuple(r) for r in self.fleet.read_image(text)], records)

    def test_diff(self):
        for a, b, rows in DIFFS:
            with self.subTest(a=a, b=b):
                self.assertEqual([tuple(r) for r in self.fleet.diff(a, b)], rows)

    def test_what_the_library_refuses_names_the_cause(self):
        cases = [
            ("no record", vudaduv.FleetTextError, "image:1: not a record",
             lambda: self.fleet.read_image("hello\n")),
            ("a record twice", vudaduv.FleetTextError, "image:2: item 0002 a second time",
             lambda: self.fleet.read_image("1P0002A1\n1P2A3\n")),
            ("no image b", vudaduv.FleetTextError, "image b:1:",
             lambda: self.fleet.diff("1P0001A1\n", "junk\n")),
            ("a type that stores nothing", vudaduv.FleetArgumentError, "stores no record",
             lambda: self.fleet.check(2, ["12"])),
            ("a sync without a state directory", vudaduv.FleetArgumentError, "state directory",
             lambda: self.fleet.sync(["127.0.0.1:1"], ["1A1"])),
            ("an address GBK lacks", vudaduv.FleetTextError, "address 0",
             lambda: fleet().sync(["\U0001F600"], ["1A1"])),
        ]
        for name, error, message, call in cases:
            with self.subTest(name):
                with self.assertRaises(error) as raised:
                    call()
                self.assertIn(message, raised.exception.message)
                self.assertIn(message, str(raised.exception))
                self.assertIsInstance(raised.exception, vudaduv.VudaduvError)
                self.assertIsInstance(raised.exception, ValueError)
        # The fleet goes on after each.
        self.assertEqual(self.fleet.check(1, ["1A1"]), [])

    def test_what_python_refuses_before_the_call(self):
        cases = [
            (TypeError, lambda: self.fleet.check(1, "1A1")),
            (TypeError, lambda: self.fleet.check(1, [b"1A1"])),
            (TypeError, lambda: self.fleet.read_image(b"1P0001A1\n")),
            (ValueError, lambda: self.fleet.read_image("1P0001A1\0")),
            (ValueError, lambda: vudaduv.Fleet(timeout_ms=-1)),
            (ValueError, lambda: vudaduv.Fleet(port=2 ** 32)),
            (ValueError, lambda: fleet().sync(FLEET or ["x"], ["1A1"], max_remove="0%")),
            (ValueError, lambda: fleet().sync(FLEET or ["x"], ["1A1"], max_remove="some")),
            (ValueError, lambda: fleet().sync(FLEET or ["x"], ["1A1"], image="1P0001A1\n")),
            (TypeError, lambda: self.fleet.sync("127.0.0.1:1", ["1A1"])),
        ]
        for error, call in cases:
            with self.subTest(error=error):
                with self.assertRaises(error):
                    call()

    def test_a_closed_fleet(self):
        self.fleet.close()
        self.fleet.close()
        self.fleet.cancel()
        self.assertTrue(self.fleet.closed)
        with self.assertRaises(ValueError):
            self.fleet.check(1, [])


class WithScales(unittest.TestCase):
    def setUp(self):
        if len(FLEET) != 3 or not DOWN:
            self.skipTest("no virtual scales (VUDADUV_TEST_FLEET, VUDADUV_TEST_SCALE_DOWN)")

    # The scales are shared by the tests: each test has items of its own.
    def read(self, addresses, first, last):
        with fleet(state=False) as reader:
            return reader.read_scales(addresses, types=[1], first_item=first, last_item=last)


class Syncs(WithScales):
    def test_three_scales_and_one_that_is_off(self):
        lines = items(30, "Tea")
        addresses = [FLEET[0], DOWN, FLEET[1], FLEET[2]]
        with fleet() as scales:
            phases = set()
            result = scales.sync(addresses, lines,
                                 progress=lambda phase, done, total: phases.add(phase))
            self.assertEqual([s.address for s in result], addresses)
            self.assertEqual(result.code_name, "VDFLEET_SCALES")
            self.assertFalse(result.ok)
            self.assertEqual([s.address for s in result.failed], [DOWN])
            self.assertIn("sending", phases)
            down = result[1]
            self.assertEqual((down.status, down.code_name, down.confirmed), ("failed",
                                                                            "WQDS_REFUSED", 0))
            self.assertIn("refused", down.cause)
            for scale in result[0], result[2], result[3]:
                with self.subTest(scale.address):
                    self.assertTrue(scale.ok)
                    self.assertEqual((scale.status, scale.planned, scale.confirmed,
                                      scale.pending, scale.code, scale.cause),
                                     ("synced", 30, 30, 0, 0, ""))

            # Again: the three are in step, found so by their probe; the fourth still off.
            again = scales.sync(addresses, lines)
            self.assertEqual([s.status for s in again], ["in-step", "failed", "in-step",
                                                         "in-step"])
            self.assertEqual([s.unchanged for s in again if s.ok], [30, 30, 30])
            self.assertTrue(all(s.probed > 0 and s.differing == 0 for s in again if s.ok))

            # A changed line, planned only; removals beyond the cap refused.
            lines[4] = "5A9##Coffee"
            planned = scales.sync(FLEET, lines, dry_run=True)
            self.assertEqual([(s.status, s.planned, s.written) for s in planned],
                             [("planned", 1, 0)] * 3)
            # (The scale may hold items of other tests too: 20 removals at least.)
            capped = scales.sync(FLEET[:1], lines[:10], remove_missing=True, max_remove=5)
            self.assertEqual(capped[0].status, "refused-cap")
            self.assertGreaterEqual(capped[0].removals, 20)
            self.assertIn("allows 5", capped[0].cause)
            self.assertFalse(capped.ok)

        # What the scales hold is the list as first sent, and the same on each.
        read = self.read(addresses, 1, 30)
        self.assertEqual([s.records for s in read], [30, 0, 30, 30])
        self.assertEqual([s.ok for s in read], [True, False, True, True])
        self.assertIn("refused", read[1].cause)
        self.assertEqual(read[0].image, read[2].image)
        self.assertTrue(read[0].image.startswith("1P0001A5##Tea 1\n"))

    def test_a_line_without_gbk_leaves_its_record_alone(self):
        with fleet() as scales:
            result = scales.sync(FLEET[:1], ["3041A5##ok", "3042A5##\U0001F600"],
                                 accept_changes=True)
        self.assertEqual(result[0].cause, "item 3042 left alone: its line has no GBK form")
        self.assertTrue(result.ok)
        self.assertEqual(self.read(FLEET[:1], 3041, 3042)[0].image, "1P3041A5##ok\n")

    def test_a_restore_sends_an_image(self):
        image = "1P3051A1##苹果\n3P07A欢迎\n"
        with fleet() as scales:
            result = scales.sync(FLEET[2:], image=image)
            self.assertEqual((result[0].status, result[0].confirmed), ("synced", 2))
            read = scales.read_scales(FLEET[2:], types=[1, 3], first_item=3051, last_item=3051)
        self.assertEqual(read[0].image, image)


class SerialLine(WithScales):
    def setUp(self):
        super().setUp()
        if not SERIAL:
            self.skipTest("no scale on a pseudo-terminal (VUDADUV_TEST_SERIAL_SCALE)")

    def test_a_scale_on_a_serial_line_beside_a_network_scale(self):
        lines = items(5, "Line", first=3201)
        addresses = [FLEET[0], SERIAL + "@115200"]
        with fleet() as scales:
            result = scales.sync(addresses, lines)
            self.assertTrue(result.ok, [s.cause for s in result])
            self.assertEqual([(s.address, s.status, s.confirmed) for s in result],
                             [(FLEET[0], "synced", 5), (SERIAL + "@115200", "synced", 5)])
            # The same line named without its speed is the same scale: in step.
            again = scales.sync([SERIAL], lines)
            self.assertEqual(again[0].status, "in-step")
        read = self.read(addresses, 3201, 3205)
        self.assertEqual([s.records for s in read], [5, 5])
        self.assertEqual(read[0].image, read[1].image)

    def test_a_bad_serial_address_names_its_cause(self):
        with self.assertRaises(vudaduv.FleetArgumentError) as raised:
            fleet().sync([SERIAL + "@1000"], ["1A1"])
        self.assertIn("speed 1000 is not supported", raised.exception.message)
        with self.assertRaises(vudaduv.FleetArgumentError) as raised:
            self.read(["serial:"], 1, 1)
        self.assertIn("no device (serial:DEVICE[@BAUD])", raised.exception.message)


class Findings(WithScales):
    """The lists that the tool and the C library are given in their own test
    (tests/fleet/same_verdict_lists.json): a sync raises FleetFindingsError with the same
    findings as check(), nothing sent; accept_changes sends them. The cut last line is a file's,
    which no list of str has."""

    def test_a_refused_sync_carries_its_findings(self):
        path = os.environ.get("VUDADUV_SAME_VERDICT") or os.path.join(
            os.path.dirname(os.path.abspath(__file__)), "..", "..", "fleet",
            "same_verdict_lists.json")
        if not os.path.exists(path):
            self.skipTest("no table of lists (VUDADUV_SAME_VERDICT)")
        with open(path, encoding="utf-8") as table:
            cases = [case for case in json.load(table) if not case.get("cutLastLine")]
        for case in cases:
            lines = case["lines"]
            numbers = [min(int(line[:4]), 4000) for line in lines]
            with self.subTest(case["name"]), fleet() as scales:
                with self.assertRaises(vudaduv.FleetFindingsError) as raised:
                    scales.sync(FLEET[:1], lines)
                findings = raised.exception.findings
                self.assertEqual(raised.exception.code_name, "VDFLEET_E_FINDINGS")
                self.assertEqual(findings, scales.check(1, lines))
                self.assertEqual([(f.line, f.field) for f in findings],
                                 [(line, field) for line, field, _ in case["findings"]])
                for finding, (_, _, what) in zip(findings, case["findings"]):
                    self.assertTrue(finding.what.startswith(what), finding.what)
                    self.assertTrue(finding.key.startswith("item "), finding.key)
                self.assertEqual(self.read(FLEET[:1], min(numbers), max(numbers))[0].image, "")
                result = scales.sync(FLEET[:1], lines, accept_changes=True)
                self.assertTrue(result.ok, result[0].cause)
                self.assertNotEqual(self.read(FLEET[:1], min(numbers), max(numbers))[0].image, "")


class Stops(WithScales):
    """The stops run on the slow scales: the progress function is told the lines answered at
    most every 10 ms, and the fast scales may be done within that."""

    COUNT = 400

    def setUp(self):
        super().setUp()
        if len(SLOW) != 3:
            self.skipTest("no slow virtual scales (VUDADUV_TEST_SLOW_FLEET)")

    def test_stopped_by_the_progress_function_the_next_run_sends_the_rest(self):
        answered = []

        def progress(phase, done, total):
            if phase != "sending":
                return False
            answered.append(done)
            if done >= 10:
                time.sleep(0.002)  # the scales answer fast: keep lines from piling up meanwhile
                return True
            return False

        lines = items(self.COUNT, "Salt", 1001)
        with slow_fleet() as scales:
            with self.assertRaises(vudaduv.FleetStopped) as raised:
                scales.sync(SLOW, lines, progress=progress)
            stopped = raised.exception.result
            self.assertIn("stopped", raised.exception.message)
            self.assertEqual(len(stopped), 3)
            for scale in stopped:
                with self.subTest(scale.address):
                    self.assertEqual(scale.status, "interrupted")
                    self.assertFalse(scale.ok)
                    self.assertEqual(scale.pending, self.COUNT - scale.confirmed)

            result = scales.sync(SLOW, lines)
            self.assertTrue(result.ok)
            for scale in result:
                with self.subTest(scale.address):
                    # Only what the first run did not write; what it wrote is read back first.
                    self.assertEqual(scale.status, "synced")
                    self.assertLess(scale.planned, self.COUNT)
                    self.assertGreaterEqual(scale.planned, self.COUNT - answered[-1])
                    self.assertEqual(scale.confirmed, scale.planned)
        self.assertEqual([s.records for s in self.read(SLOW, 1001, 1000 + self.COUNT)],
                         [self.COUNT] * 3)

    def test_an_exception_in_the_progress_function_stops_and_comes_out(self):
        class Broken(Exception):
            pass

        def progress(phase, done, total):
            if phase == "sending":
                raise Broken(f"at {done} of {total}")

        calls = []
        with fleet() as scales:
            with self.assertRaises(Broken):
                scales.sync(FLEET[:1], items(20, "Pepper", 2001), progress=progress)
            # The function is the call's alone: the next one runs to the end without it.
            result = scales.sync(FLEET[:1], items(20, "Pepper", 2001))
            self.assertTrue(result.ok)
            with self.assertRaises(Broken):
                scales.read_scales(FLEET[:1], types=[7],
                                   progress=lambda *told: calls.append(told) or progress(
                                       "sending", 0, 0))
        self.assertEqual(calls[0][0], "reading")

    def test_cancel_from_another_thread(self):
        asked = threading.Event()
        cancelled = threading.Event()

        def progress(phase, done, total):
            if phase == "sending" and done >= 5:
                asked.set()
                cancelled.wait(10)
                time.sleep(0.002)
            return False

        with slow_fleet() as scales:
            canceller = threading.Thread(target=lambda: (asked.wait(10), scales.cancel(),
                                                         cancelled.set()))
            canceller.start()
            with self.assertRaises(vudaduv.FleetStopped) as raised:
                scales.sync(SLOW[:2], items(self.COUNT, "Sugar", 2101), progress=progress)
            canceller.join()
            self.assertEqual([s.status for s in raised.exception.result], ["interrupted"] * 2)
            # A cancel with no call running is not kept: the next call runs.
            scales.cancel()
            self.assertTrue(scales.sync(SLOW[:2], items(self.COUNT, "Sugar", 2101)).ok)

    @unittest.skipIf(sys.platform == "win32", "SIGINT cannot be sent to a program on Windows")
    def test_ctrl_c_raises_keyboard_interrupt_soon_and_the_next_sync_sends_the_rest(self):
        # Without a progress function the signal comes while the library sends; with one, it
        # may come inside it. 600 items, 1,200 lines at 3 ms each: seconds of sending are left.
        count = 600
        for first, with_progress in ((2601, False), (3201, True)):
            with self.subTest(progress=with_progress):
                sent, out, err, code = self.interrupt(slow_state(), first, count, with_progress)
                # It ends as a Python program ends on Ctrl-C: by SIGINT, with the traceback.
                self.assertEqual(code, -signal.SIGINT, out + err)
                self.assertTrue(err.rstrip().endswith("KeyboardInterrupt"), err)
                self.assertTrue(out.startswith("KeyboardInterrupt "), out)
                # Within a second or so (the wait's step is 0.1 s), not when the send, with some
                # 3 seconds left, would have ended.
                self.assertLess(float(out.split()[1]) - sent, 2.0)

                with slow_fleet() as scales:
                    result = scales.sync(SLOW, items(count, "Flour", first))
                self.assertTrue(result.ok, result)
                for scale in result:
                    # What the first run confirmed is in the state: only the rest is sent.
                    self.assertEqual(scale.status, "synced")
                    self.assertGreater(scale.planned, 0)
                    self.assertLess(scale.planned, count)
                    self.assertEqual(scale.confirmed, scale.planned)

    def interrupt(self, state, first, count, with_progress):
        """Runs ctrl_c_sync.py and sends it SIGINT once it sends: the time the signal was sent,
        what it printed and its exit status."""
        pending = os.path.join(state, ".pending")
        before = self.stat(pending)
        program = subprocess.Popen(
            [sys.executable, "-B", CTRL_C_PROGRAM] + (["--progress"] if with_progress else []) +
            [state, str(first), str(count)] + SLOW,
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, universal_newlines=True)
        try:
            self.assertEqual(program.stdout.readline(), "syncing\n")
            if with_progress:
                self.assertEqual(program.stdout.readline(), "sending\n")
            else:
                # The send begins once the state's .pending names its records.
                deadline = time.monotonic() + 60
                while self.stat(pending) == before and time.monotonic() < deadline:
                    time.sleep(0.01)
                time.sleep(0.3)
            sent = time.monotonic()
            program.send_signal(signal.SIGINT)
            out, err = program.communicate(timeout=60)
        finally:
            if program.poll() is None:
                program.kill()
                program.communicate()
        return sent, out, err, program.returncode

    @staticmethod
    def stat(path):
        try:
            status = os.stat(path)
            return status.st_mtime_ns, status.st_size, status.st_ino
        except FileNotFoundError:
            return None

    def test_calls_from_inside_the_progress_function_are_busy(self):
        for name, call in [("check", lambda scales: scales.check(1, ["1A1"])),
                           ("close", lambda scales: scales.close())]:
            with self.subTest(name):
                with fleet() as scales:
                    with self.assertRaises(vudaduv.FleetBusyError):
                        scales.read_scales(FLEET[:1], types=[7],
                                           progress=lambda *told: call(scales))
                    self.assertFalse(scales.closed)
                    self.assertEqual(scales.check(1, ["1A1"]), [])


class Idiom(unittest.TestCase):
    def test_statuses_are_a_str_enum(self):
        statuses = list(vudaduv.SyncStatus)
        self.assertEqual([s.value for s in statuses],
                         ["in-step", "synced", "drift-repaired", "refused-cap", "failed",
                          "interrupted", "planned"])
        for status in statuses:
            with self.subTest(status.value):
                self.assertIsInstance(status, str)
                self.assertEqual(status, status.value)
                self.assertEqual(vudaduv.SyncStatus(status.value), status)
                self.assertEqual(str(status), status.value)
                self.assertEqual(f"{status}|{status:>15}", f"{status.value}|{status.value:>15}")
                self.assertEqual(json.dumps({"status": status}), json.dumps(
                    {"status": status.value}))
                self.assertIn(status, {status.value: 1})  # a table keyed by the names finds it
                self.assertEqual(status.ok, status.value in ("in-step", "synced",
                                                             "drift-repaired", "planned"))

    def test_a_row_with_a_status_of_a_later_library_stays_a_str(self):
        row = vudaduv.ScaleSync("127.0.0.1:4001", vudaduv._fleet._sync_status("resting"),
                                *[0] * 8, 0, "WQDS_OK", "")
        self.assertEqual(row.status, "resting")
        self.assertFalse(row.ok)
        self.assertIs(vudaduv._fleet._sync_status("synced"), vudaduv.SyncStatus.SYNCED)

    def test_the_package_says_it_is_typed(self):
        # PEP 561: type checkers read the hints of a package that holds py.typed (the wheel too:
        # the wheel's test runs this from the installed package).
        folder = os.path.dirname(os.path.abspath(vudaduv.__file__))
        self.assertTrue(os.path.isfile(os.path.join(folder, "py.typed")), folder)
        # Every function and method of the public API has hints, and they name types that are.
        checked = []
        for name in vudaduv.__all__:
            thing = getattr(vudaduv, name)
            functions = [(name, thing)] if inspect.isfunction(thing) else [
                (f"{name}.{member}", function)
                for base in thing.__mro__ if base.__module__.split(".")[0] == "vudaduv"
                for member, function in vars(base).items()
                if inspect.isfunction(function) and (not member.startswith("_") or
                                                     member == "__init__")
            ] if inspect.isclass(thing) else []
            for label, function in functions:
                with self.subTest(label):
                    hints = typing.get_type_hints(function)
                    self.assertIn("return", hints)
                    parameters = [p for p in inspect.signature(function).parameters
                                  if p != "self"]
                    self.assertEqual([p for p in parameters if p not in hints], [])
                    checked.append(label)
        self.assertIn("Fleet.sync", checked)
        self.assertIn("Scale.__init__", checked)
        self.assertIn("Scale.download_items", checked)
        self.assertEqual(typing.get_type_hints(vudaduv.Fleet.sync)["return"], vudaduv.SyncResult)
        self.assertEqual(typing.get_type_hints(vudaduv.ScaleSync)["status"],
                         typing.Union[vudaduv.SyncStatus, str])


if __name__ == "__main__":
    unittest.main()
