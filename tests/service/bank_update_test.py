"""A Bundesbank file installed while the service answers: refused when damaged, waiting when dated later, and in
use at once when its day has come, with every request answered throughout."""

import datetime
import json
import os
import shutil
import subprocess
import tempfile
import time
import unittest
import urllib.request

from bankfiles import asking_all_along, bank_name, built_in_records, record, start_service, write

SERVICE = os.environ["ORVELWDDX_SERVICE"]


class BankUpdateTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="orvel-banks-")
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.env = {k: v for k, v in os.environ.items() if not k.startswith("DBUS_")}
        self.env.update(XDG_DATA_HOME=os.path.join(self.dir, "data"), XDG_CONFIG_HOME=os.path.join(self.dir, "config"))

    def install(self, *arguments):
        return subprocess.run([SERVICE, "--install-bank-file", *arguments], env=self.env, capture_output=True,
                              text=True, timeout=30)

    def get(self, path):
        with urllib.request.urlopen("http://127.0.0.1:%d%s" % (self.port, path), timeout=10) as reply:
            return reply.read().decode("latin-1")

    def bank_name(self):
        return bank_name(self.port)

    def test_refuses_damaged_files_naming_the_line(self):
        good = record("10012345", "Bank", "09")
        full = built_in_records()
        cases = [
            ("blz_20261201.txt", [good, good[:150] + "ZZ" + good[152:]], ":2: unknown check-digit method"),
            ("blz_20261201.txt", ["1" * 5000], ":1: not a Bundesbank directory record"),
            ("blz_20261201.txt", full[:5] + [record("10012345", "Filiale", "E9", flag="2")] + full[5:],
             "Bankleitzahl 10012345: Prüfziffernmethode \"E9\" unbekannt"),
            ("blz_20261201.txt", [good, good], ":2: a second record with flag 1 for 10012345"),
            ("blz_20261201.txt", [good[:139] + "TRBK-DEBB  " + good[150:]], ":1: not a BIC"),
            ("blz_20261201.txt", full[:1], "nur 1 Bankleitzahlen, eine vollständige Ausgabe hat mindestens 1000"),
            ("blz_20261201.txt", full[:len(full) * 7 // 10], "30 % der installierten Bankleitzahlen fehlen"),
            ("banks.txt", [good], "kein Gültigkeitsdatum"),
            ("banks.txt", [good], "--valid-from 2026-13-01: kein Datum JJJJ-MM-TT", "--valid-from", "2026-13-01"),
            ("banks.txt", [good], "--valid-from 2026-02-31: kein Datum JJJJ-MM-TT", "--valid-from", "2026-02-31"),
            ("blz_20261399.txt", full, "20261399 im Namen ist kein Datum"),
            ("/dev/zero", None, "/dev/zero: keine gewöhnliche Datei", "--valid-from", "2026-12-01"),
            ("/tmp", None, "/tmp: keine gewöhnliche Datei", "--valid-from", "2026-12-01"),
        ]
        for name, records, error, *options in cases:
            with self.subTest(error):
                path = write(os.path.join(self.dir, name), records) if records else name
                refused = self.install(path, *options)
                self.assertEqual(refused.returncode, 1)
                self.assertEqual(refused.stdout, "")
                self.assertEqual(refused.stderr.count("\n"), 1, refused.stderr)
                self.assertIn("Bankleitzahlendatei der Bundesbank nicht installiert: ", refused.stderr)
                self.assertIn(error, refused.stderr)
        self.assertEqual(os.listdir(os.path.join(self.dir, "data/OrvelWddx")), [])

    def test_a_file_grown_past_the_cap_is_refused_unread(self):
        path = os.path.join(self.dir, "blz_20261201.txt")
        with open(path, "wb") as out:
            out.truncate(17 << 20)
        refused = self.install(path)
        self.assertEqual(refused.returncode, 1)
        self.assertIn("größer als 16 MiB", refused.stderr)

    def test_the_running_service_switches_without_a_failed_request(self):
        self.port, _ = start_service(self, SERVICE, self.env)
        self.assertEqual(self.bank_name(), "Trade Republic Bank")
        status = json.loads(self.get("/status"))
        self.assertEqual(status["bankDirectory"]["kind"], "built-in")
        self.assertEqual(status["bankDirectory"]["validFrom"], "2026-09-07")
        self.assertGreater(status["bankDirectory"]["bankCodes"], 3000)
        self.assertGreaterEqual(status["bankDirectory"]["ageDays"], 0)
        self.assertTrue(status["version"])

        with asking_all_along(self.port) as (seen, failures):
            today = datetime.date.today()
            records = built_in_records({"10012345": "Neue Testbank"})
            # A file for a later day waits for it (two days on: Germany's day may be ahead of UTC's).
            later = self.install(write(os.path.join(self.dir, "later.txt"), built_in_records({"10012345": "Später"})),
                                 "--valid-from", (today + datetime.timedelta(days=2)).isoformat())
            self.assertEqual(later.returncode, 0, later.stderr)
            time.sleep(1)
            self.assertEqual(self.bank_name(), "Trade Republic Bank")
            name = "blz_%s.txt" % (today - datetime.timedelta(days=1)).strftime("%Y%m%d")
            installed = self.install(write(os.path.join(self.dir, name), records))
            self.assertEqual(installed.returncode, 0, installed.stderr)
            for _ in range(100):
                if self.bank_name() == "Neue Testbank":
                    break
                time.sleep(0.05)
            time.sleep(0.5)
        self.assertEqual(self.bank_name(), "Neue Testbank")
        self.assertEqual(failures, [])
        self.assertEqual(seen, {"Trade Republic Bank", "Neue Testbank"})
        status = json.loads(self.get("/status"))["bankDirectory"]
        self.assertEqual(status["kind"], "Bundesbank file")
        self.assertEqual(status["bankCodes"], len(records))
        self.assertTrue(status["path"].endswith(name), status)


if __name__ == "__main__":
    unittest.main()
