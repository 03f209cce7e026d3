"""A Bundesbank file installed while the service answers: refused when damaged, waiting when dated later, and in
use at once when its day has come, with every request answered throughout."""

import datetime
import json
import os
import re
import shutil
import subprocess
import tempfile
import threading
import time
import unittest
import urllib.request

SERVICE = os.environ["ORVELWDDX_SERVICE"]


def record(blz, name, method, bic=""):
    def padded(text, width):
        return text[:width].ljust(width)
    return (padded(blz, 8) + "1" + padded(name, 58) + "10100" + padded("Berlin", 35) + padded(name, 27) + "12345" +
            padded(bic, 11) + padded(method, 2) + "000001" + "U" + "0" + "00000000")


def write(path, records):
    with open(path, "wb") as out:
        out.write("".join(r + "\r\n" for r in records).encode("latin-1"))
    return path


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
        answer = self.get("/tarvik?un=&pw=&blz=10012345&kto=0123456789")
        return re.search(r"<var name='bankname'><string>([^<]*)</string>", answer).group(1)

    def test_refuses_damaged_files_naming_the_line(self):
        good = record("10012345", "Bank", "09")
        cases = [
            ("blz_20261201.txt", [good, good[:150] + "ZZ" + good[152:]], ":2: unknown check-digit method"),
            ("blz_20261201.txt", ["1" * 5000], ":1: not a Bundesbank directory record"),
            ("banks.txt", [good], "no validity date"),
            ("banks.txt", [good], "--valid-from 2026-13-01: YYYY-MM-DD expected", "--valid-from", "2026-13-01"),
        ]
        for name, records, error, *options in cases:
            with self.subTest(error):
                path = write(os.path.join(self.dir, name), records)
                refused = self.install(path, *options)
                self.assertEqual(refused.returncode, 1)
                self.assertIn(error, refused.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.dir, "data/OrvelWddx/blz_20261201.txt")))

    def test_the_running_service_switches_without_a_failed_request(self):
        service = subprocess.Popen([SERVICE, "--listen", "127.0.0.1:0"], env=self.env, stderr=subprocess.PIPE,
                                   text=True)
        self.addCleanup(service.wait, 10)
        self.addCleanup(service.terminate)
        for line in service.stderr:
            served = re.search(r"serving http 127\.0\.0\.1:0 \(port (\d+)\)", line)
            if served:
                self.port = int(served.group(1))
                break
        self.assertEqual(self.bank_name(), "Trade Republic Bank")
        status = json.loads(self.get("/status"))
        self.assertEqual(status["bankDirectory"]["kind"], "built-in")
        self.assertEqual(status["bankDirectory"]["validFrom"], "2026-09-07")
        self.assertGreater(status["bankDirectory"]["bankCodes"], 3000)
        self.assertGreaterEqual(status["bankDirectory"]["ageDays"], 0)
        self.assertTrue(status["version"])

        seen, failures, stop = set(), [], threading.Event()

        def check():
            while not stop.is_set():
                try:
                    seen.add(self.bank_name())
                except Exception as error:  # every kind of failure counts
                    failures.append(repr(error))

        workers = [threading.Thread(target=check) for _ in range(3)]
        for worker in workers:
            worker.start()
        try:
            today = datetime.date.today()
            records = [record("10012345", "Neue Testbank", "09", "TRBKDEBBXXX"), record("10010178", "Revolut", "09")]
            # A file for a later day waits for it (two days on: Germany's day may be ahead of UTC's).
            later = self.install(write(os.path.join(self.dir, "later.txt"), records[:1]), "--valid-from",
                                 (today + datetime.timedelta(days=2)).isoformat())
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
        finally:
            stop.set()
            for worker in workers:
                worker.join()
        self.assertEqual(self.bank_name(), "Neue Testbank")
        self.assertEqual(failures, [])
        self.assertEqual(seen, {"Trade Republic Bank", "Neue Testbank"})
        status = json.loads(self.get("/status"))["bankDirectory"]
        self.assertEqual(status["kind"], "Bundesbank file")
        self.assertEqual(status["bankCodes"], 2)
        self.assertTrue(status["path"].endswith(name), status)


if __name__ == "__main__":
    unittest.main()
