"""One address, one answer: every front that checks an address without naming a rewrite mode (the single check, the
batch, both offline, the command through the bus and a one-call check over D-Bus) answers as with rewrite mode 2,
against the real local service."""

import csv
import io
import json
import os
import subprocess
import unittest

import dbus

from orvelbus import LocalService, PrivateBus

CHECK = os.environ["ORVELWDDX_CHECK"]

# Postal code and place; the first two are answered differently in mode 0 and mode 2, so the default shows.
CASES = [("80331", "Muenchen"), ("50667", "Koeln"), ("10115", "Berlin"), ("99999", "Nirgendwo")]


class RewriteDefaultTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        service = LocalService()
        cls.addClassCleanup(service.close)
        cls.host = service.host
        cls.bus = PrivateBus(ORVELWDDX_HOST=cls.host, ORVELWDDX_USER="", ORVELWDDX_PASS="")
        cls.addClassCleanup(cls.bus.close)
        result = cls.bus.run("-RegServer")
        assert result.returncode == 0, result.stderr

    def command(self, *args, stdin=None):
        ran = subprocess.run([CHECK, *args], env=self.bus.env, input=stdin, capture_output=True, text=True,
                             timeout=120)
        self.assertIn(ran.returncode, (0, 1), ran.stderr)
        return ran.stdout

    def single(self, *options):
        return {(plz, place): json.loads(self.command(*options, "--json", "address", plz, place))["Result"]
                for plz, place in CASES}

    def batch(self, *options):
        rows = list(csv.DictReader(io.StringIO(self.command(
            *options, "batch", "-", stdin="plz,ort\n" + "".join("%s,%s\n" % case for case in CASES)))))
        return {(row["plz"], row["ort"]): int(row["Result"]) for row in rows}

    def one_call(self):
        checks = self.bus.connect().get_object("OrvelWddx.Address", "/OrvelWddx/Address", introspect=False)
        return {(plz, place): int(checks.Check("", "", plz, place, dbus.Dictionary({"Host": self.host}, signature="sv"),
                                               dbus_interface="OrvelWddx.Checks", timeout=60)["Result"])
                for plz, place in CASES}

    def test_every_front_answers_as_with_rewrite_mode_2(self):
        mode2 = self.single("--rewrite", "2")
        mode0 = self.single("--rewrite", "0")
        self.assertNotEqual(mode2[CASES[0]], mode0[CASES[0]], "the cases must show the mode")
        fronts = {
            "single": lambda: self.single(),
            "batch": lambda: self.batch(),
            "offline single": lambda: self.single("--offline"),
            "offline batch": lambda: self.batch("--offline"),
            "single --bus": lambda: self.single("--bus"),
            "batch --bus": lambda: self.batch("--bus"),
            "OrvelWddx.Checks": self.one_call,
        }
        for front, answers in fronts.items():
            with self.subTest(front=front):
                self.assertEqual(answers(), mode2)


if __name__ == "__main__":
    unittest.main(verbosity=2)
