"""examples/fleet_sync.py as a user runs it, beside the virtual scales of vudaduv_with_scale:
without addresses it syncs the three scales and the one that is off, names each in its output and
fails for the one that is off; a second run finds the three in step; given the three alone it
succeeds."""

import os
import subprocess
import sys
import unittest

EXAMPLE = os.environ.get("VUDADUV_FLEET_EXAMPLE", "")
FLEET = os.environ.get("VUDADUV_TEST_FLEET", "").split()
DOWN = os.environ.get("VUDADUV_TEST_SCALE_DOWN", "")


def run(*addresses):
    done = subprocess.run([sys.executable, "-B", EXAMPLE, *addresses], capture_output=True,
                          text=True, encoding="utf-8", timeout=120)
    return done.returncode, done.stdout.splitlines(), done.stderr


class Example(unittest.TestCase):
    def setUp(self):
        if not EXAMPLE or len(FLEET) != 3 or not DOWN:
            self.skipTest("no example or no virtual scales")

    def test_each_scale_named_and_the_one_that_is_off_fails(self):
        # (run, status of the three, of the one that is off, exit status)
        for run_name, synced, status in [("first", "synced, 3 confirmed, 0 pending", 1),
                                         ("second", "in-step, 0 confirmed, 0 pending", 1)]:
            with self.subTest(run_name):
                code, lines, errors = run()
                self.assertEqual(code, status, errors)
                self.assertEqual(lines[:3], [f"{address}: {synced}" for address in FLEET])
                self.assertEqual(len(lines), 4, lines)
                self.assertTrue(lines[3].startswith(f"{DOWN}: failed, 0 confirmed, "), lines[3])
                self.assertIn("refused", lines[3])

    def test_the_scales_that_are_on_alone_succeed(self):
        code, lines, errors = run(*FLEET)
        self.assertEqual(code, 0, errors)
        self.assertEqual([line.split(": ")[0] for line in lines],
                         FLEET)


if __name__ == "__main__":
    unittest.main()
