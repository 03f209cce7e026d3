"""orvelwddx-service --update-data against a loopback stand-in of the download addresses: an edition installed,
the same edition not downloaded again, one for a later day waiting, every fault leaving the folder as it was with
one German line, a drop refused unless forced, a rollback, and a running service answering through the swap."""

import datetime
import fcntl
import json
import os
import shutil
import subprocess
import tempfile
import threading
import time
import unittest

from bankfiles import (BLOB, StandIn, built_in_records, bundesbank_bytes, bundesbank_page, oenb_bytes, oenb_rows,
                       asking_all_along, scl_bytes, scl_rows, stall, start_service)

SERVICE = os.environ["ORVELWDDX_SERVICE"]
PAGE = "/bankleitzahlen/download"
SCL = "/resource/blob/602880/0123/mL/verzeichnis-der-erreichbaren-zahlungsdienstleister-data.csv"
OENB = "/docroot/downloads_observ/sepa-zv-vz_gesamt.csv"
TODAY = datetime.date.today()


class DataUpdateTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="orvel-feeds-")
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.folder = os.path.join(self.dir, "data/OrvelWddx")
        self.stand_in = StandIn()
        self.addCleanup(self.stand_in.close)
        self.env = {k: v for k, v in os.environ.items()
                    if not k.startswith("DBUS_") and not k.lower().endswith("_proxy")}
        self.env.update(XDG_DATA_HOME=os.path.join(self.dir, "data"), XDG_CONFIG_HOME=os.path.join(self.dir, "config"),
                        ORVELWDDX_BUNDESBANK_URL=self.stand_in.base + PAGE,
                        ORVELWDDX_SCL_URL=self.stand_in.base + "/scl-directory",
                        ORVELWDDX_OENB_URL=self.stand_in.base + OENB)
        self.stand_in.serve("/scl-directory", b"", 302, Location=SCL)

    def publish(self, link_hash, records, valid_from=TODAY - datetime.timedelta(days=4), days=91, body=None):
        """The page names the edition valid from valid_from; its link serves the records."""
        self.stand_in.serve(PAGE, bundesbank_page(link_hash, valid_from, valid_from + datetime.timedelta(days=days)))
        self.stand_in.serve(BLOB % link_hash, body if body is not None else bundesbank_bytes(records))
        return "blz_%s.txt" % valid_from.strftime("%Y%m%d")

    def update(self, *arguments):
        return subprocess.run([SERVICE, "--update-data", "bundesbank", "--fetch-timeout", "1", *arguments],
                              env=self.env, capture_output=True, text=True, timeout=60)

    def snapshot(self):
        """The folder's names and contents."""
        if not os.path.isdir(self.folder):
            return {}
        return {name: open(os.path.join(self.folder, name), "rb").read() for name in sorted(os.listdir(self.folder))}

    def state(self, source="bundesbank"):
        with open(os.path.join(self.folder, "editions.json"), encoding="utf-8") as state:
            return json.load(state)[source]

    def test_a_new_edition_is_installed_and_the_same_one_not_fetched_again(self):
        records = built_in_records({"10012345": "Neue Testbank"})
        name = self.publish("a" * 32, records)
        done = self.update()
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertRegex(done.stdout, r"^Bankleitzahlendatei der Bundesbank: %s installiert \(gültig ab "
                         r"\d\d\.\d\d\.\d{4} bis \d\d\.\d\d\.\d{4}, \d+ Bankleitzahlen\)\n$" % name)
        with open(os.path.join(self.folder, name), "rb") as installed:
            self.assertEqual(installed.read(), bundesbank_bytes(records))
        state = self.state()
        self.assertEqual(state["file"], name)
        self.assertEqual(state["link_hash"], "a" * 32)
        self.assertEqual(state["url"], self.stand_in.base + PAGE)
        self.assertEqual(state["valid_from"], (TODAY - datetime.timedelta(days=4)).isoformat())
        self.assertEqual(state["valid_until"], (TODAY + datetime.timedelta(days=87)).isoformat())
        self.assertRegex(state["fetched_at"], r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d$")
        self.assertEqual(len(state["sha256"]), 64)

        again = self.update()
        self.assertEqual(again.returncode, 0, again.stderr)
        self.assertIn("unverändert (%s), nichts geladen" % name, again.stdout)
        self.assertEqual(self.stand_in.hits[BLOB % ("a" * 32)], 1)
        self.assertEqual(self.stand_in.hits[PAGE], 2)

    def test_addresses_redirects_and_a_later_day(self):
        """The page behind a redirect, the file behind another; the settings file names the address, the variable
        wins over it; an edition whose day has not come is installed under its date and waits."""
        later = TODAY + datetime.timedelta(days=30)
        name = self.publish("b" * 32, built_in_records(), valid_from=later)
        self.stand_in.serve("/old-page", b"", 302, Location=PAGE)
        self.stand_in.serve("/moved/blz.txt", self.stand_in.routes[BLOB % ("b" * 32)][2])
        self.stand_in.serve(BLOB % ("b" * 32), b"", 301, Location="/moved/blz.txt")
        os.makedirs(os.path.join(self.dir, "config/OrvelWddx"))
        with open(os.path.join(self.dir, "config/OrvelWddx/service.conf"), "w") as settings:
            settings.write("BundesbankUrl = %s/old-page\n" % self.stand_in.base)
        del self.env["ORVELWDDX_BUNDESBANK_URL"]
        done = self.update()
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("in Gebrauch ab %s" % later.strftime("%d.%m.%Y"), done.stdout)
        self.assertTrue(os.path.exists(os.path.join(self.folder, name)))
        self.assertEqual(self.stand_in.hits["/moved/blz.txt"], 1)
        self.env["ORVELWDDX_BUNDESBANK_URL"] = self.stand_in.base + "/elsewhere"
        moved = self.update()
        self.assertEqual(moved.returncode, 1)
        self.assertIn("/elsewhere: Antwort HTTP 404", moved.stderr)

    def test_every_fault_changes_nothing_and_says_what_and_where(self):
        full = built_in_records()
        installed_name = self.publish("c" * 32, full, valid_from=TODAY - datetime.timedelta(days=10))
        self.assertEqual(self.update().returncode, 0)
        cut = bundesbank_bytes(full)
        utf8 = bundesbank_bytes(built_in_records({"10012345": "Bank für Gemeinwirtschaft"}), "utf-8")
        blob = BLOB % ("d" * 32)
        cases = [
            ("page without link", lambda: self.stand_in.serve(PAGE, b"<html><p>Wartungsarbeiten</p></html>"),
             PAGE + ": kein Verweis auf blz-aktuell-txt-data.txt auf der Seite"),
            ("page without validity",
             lambda: self.stand_in.serve(PAGE, b"<a href=\"%s\">TXT</a>" % (blob.encode())),
             PAGE + ": keine Gültigkeit"),
            ("page 404", lambda: self.stand_in.routes.pop(PAGE), PAGE + ": Antwort HTTP 404"),
            ("file 404", lambda: (self.publish("d" * 32, full), self.stand_in.routes.pop(blob)),
             blob + ": Antwort HTTP 404"),
            ("cut inside a record", lambda: self.publish("d" * 32, None, body=cut[:len(cut) // 2 + 7]),
             ": not a Bundesbank directory record"),
            ("cut at a record boundary", lambda: self.publish("d" * 32, full[:len(full) // 2]),
             blob + ": 50 % der installierten Bankleitzahlen fehlen"),
            ("wrong encoding", lambda: self.publish("d" * 32, None, body=utf8),
             ": UTF-8 text where ISO-8859-1 is expected"),
            ("oversized", lambda: self.publish("d" * 32, None, body=b"x" * ((16 << 20) + 1)),
             blob + ": größer als 16 MiB"),
            ("stall", lambda: self.publish("d" * 32, None, body=stall), blob + ": Zeitüberschreitung"),
            ("older than the one in use",
             lambda: self.publish("d" * 32, built_in_records({"10012345": "Alt"}), TODAY - datetime.timedelta(days=20)),
             "älter als die installierte Ausgabe"),
        ]
        before = self.snapshot()
        self.assertIn(installed_name, before)
        for label, arrange, error in cases:
            with self.subTest(label):
                arrange()
                started = time.monotonic()
                failed = self.update()
                self.assertLess(time.monotonic() - started, 20)
                self.assertEqual(failed.returncode, 1, failed.stdout)
                self.assertEqual(failed.stdout, "")
                self.assertEqual(failed.stderr.count("\n"), 1, failed.stderr)
                self.assertTrue(failed.stderr.startswith("Bankleitzahlendatei der Bundesbank nicht aktualisiert: "),
                                failed.stderr)
                self.assertIn(error, failed.stderr)
                self.assertEqual(self.snapshot(), before)

    def test_a_drop_is_refused_unless_forced_and_a_rollback_brings_the_edition_before(self):
        full = built_in_records()
        first = self.publish("e" * 32, full, valid_from=TODAY - datetime.timedelta(days=10))
        self.assertEqual(self.update().returncode, 0)
        second = self.publish("f" * 32, full[:len(full) * 7 // 10])
        refused = self.update()
        self.assertEqual(refused.returncode, 1)
        self.assertIn("30 % der installierten Bankleitzahlen fehlen", refused.stderr)
        self.assertIn("--force installiert sie trotzdem", refused.stderr)
        forced = self.update("--force")
        self.assertEqual(forced.returncode, 0, forced.stderr)
        self.assertEqual(self.state()["file"], second)
        self.assertEqual(self.state()["result"], "aktualisiert")

        back = subprocess.run([SERVICE, "--rollback-data", "bundesbank"], env=self.env, capture_output=True,
                              text=True, timeout=30)
        self.assertEqual(back.returncode, 0, back.stderr)
        self.assertEqual(back.stdout, "Bankleitzahlendatei der Bundesbank: %s zurückgenommen, in Gebrauch %s\n"
                         % (second, first))
        self.assertEqual(sorted(n for n in os.listdir(self.folder) if n.startswith("blz_")),
                         [first, second + ".rolledback"])
        state = self.state()
        self.assertEqual((state["file"], state["link_hash"]), (first, "f" * 32))
        # The page still names the edition taken back: nothing is fetched, nothing installed.
        again = self.update()
        self.assertEqual(again.returncode, 0, again.stderr)
        self.assertIn("unverändert", again.stdout)
        self.assertEqual(self.stand_in.hits[BLOB % ("f" * 32)], 2)
        for source in ("scl", "oenb"):
            nothing = subprocess.run([SERVICE, "--rollback-data", source], env=self.env, capture_output=True,
                                     text=True, timeout=30)
            self.assertEqual(nothing.returncode, 1)
            self.assertIn("keine installierte Ausgabe", nothing.stderr)

    def test_all_three_sources_with_conditional_requests(self):
        """No source named: all three, each with its line; the CSV files are asked for with their ETag again, and a
        fault in one source leaves the others' installs standing."""
        day = TODAY - datetime.timedelta(days=1)
        self.publish("1" * 32, built_in_records())
        scl = scl_rows(800, ["BNPAFRPPXXX;BNP PARIBAS;1;1;0;1;1", "REVOLT21XXX;Revolut Bank UAB;1;0;0;0;0"])
        self.stand_in.serve(SCL, scl_bytes(day, scl), ETag='"scl-1"')
        self.stand_in.serve(OENB, oenb_bytes(day, oenb_rows(300)), ETag='"oenb-1"')
        done = subprocess.run([SERVICE, "--update-data"], env=self.env, capture_output=True, text=True, timeout=60)
        self.assertEqual(done.returncode, 0, done.stderr)
        stamp = day.strftime("%Y%m%d")
        self.assertEqual(done.stdout.splitlines()[1:], [
            "SCL-Directory der Bundesbank: scl_%s.csv installiert (gültig ab %s, 802 BICs)"
            % (stamp, day.strftime("%d.%m.%Y")),
            "SEPA-Verzeichnis der OeNB: oenb_%s.csv installiert (gültig ab %s, 300 Bankleitzahlen)"
            % (stamp, day.strftime("%d.%m.%Y"))])
        self.assertEqual((self.state("scl")["etag"], self.state("scl")["url"]),
                         ('"scl-1"', self.stand_in.base + "/scl-directory"))
        self.assertEqual(self.state("oenb")["valid_from"], day.isoformat())
        self.assertIsNone(self.state("oenb")["valid_until"])

        again = subprocess.run([SERVICE, "--update-data", "bundesbank", "scl", "oenb"], env=self.env,
                               capture_output=True, text=True, timeout=60)
        self.assertEqual(again.returncode, 0, again.stderr)
        self.assertEqual(again.stdout.count("unverändert"), 3)

        cases = [
            ("scl", SCL, scl_bytes(TODAY, scl[:560]), "30 % der installierten BICs fehlen"),
            ("scl", SCL, scl_bytes(TODAY, scl + ["BNPAFRPP;Doppelt;1;1;0;1;1"]), "BNPAFRPPXXX"),
            ("oenb", OENB, oenb_bytes(TODAY, oenb_rows(300), "utf-8"), ":1: UTF-8 text where ISO-8859-1 is expected"),
            ("oenb", OENB, oenb_bytes(TODAY, oenb_rows(50)), "nur 50 Bankleitzahlen"),
        ]
        before = self.snapshot()
        for source, path, body, error in cases:
            with self.subTest(error):
                self.stand_in.serve(path, body, ETag='"next"')
                failed = subprocess.run([SERVICE, "--update-data", source], env=self.env, capture_output=True,
                                        text=True, timeout=60)
                self.assertEqual(failed.returncode, 1, failed.stdout)
                self.assertEqual(failed.stderr.count("\n"), 1, failed.stderr)
                self.assertIn(" nicht aktualisiert: " + self.stand_in.base + path, failed.stderr)
                self.assertIn(error, failed.stderr)
                self.assertEqual(self.snapshot(), before)

    def test_the_proxy_variable_is_honoured(self):
        """Addresses that resolve nowhere reach their files through the proxy that http_proxy names."""
        site = "http://bundesbank.invalid"
        self.stand_in.serve(site + PAGE, bundesbank_page("6" * 32, TODAY, TODAY + datetime.timedelta(days=91)))
        self.stand_in.serve(site + BLOB % ("6" * 32), bundesbank_bytes(built_in_records()))
        self.env.update(ORVELWDDX_BUNDESBANK_URL=site + PAGE, http_proxy=self.stand_in.base)
        done = self.update()
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(self.stand_in.hits[site + BLOB % ("6" * 32)], 1)

    def test_a_second_update_at_the_same_time_is_refused(self):
        self.publish("7" * 32, built_in_records())
        os.makedirs(self.folder)
        held = os.open(self.folder, os.O_RDONLY)
        self.addCleanup(os.close, held)
        fcntl.flock(held, fcntl.LOCK_EX)
        for command in (["--update-data", "bundesbank"], ["--rollback-data", "bundesbank"]):
            with self.subTest(command[0]):
                refused = subprocess.run([SERVICE, *command], env=self.env, capture_output=True, text=True,
                                         timeout=30)
                self.assertEqual(refused.returncode, 1)
                self.assertIn(self.folder + ": eine andere Aktualisierung läuft gerade", refused.stderr)
        self.assertEqual(os.listdir(self.folder), [])
        fcntl.flock(held, fcntl.LOCK_UN)
        self.assertEqual(self.update().returncode, 0)

    def test_the_running_service_answers_through_the_swap(self):
        port, service = start_service(self, SERVICE, self.env)
        threading.Thread(target=lambda: [None for _ in service.stderr], daemon=True).start()
        with asking_all_along(port) as (seen, failures):
            self.publish("9" * 32, built_in_records({"10012345": "Neue Testbank"}))
            done = self.update()
            self.assertEqual(done.returncode, 0, done.stderr)
            for _ in range(100):
                if "Neue Testbank" in seen:
                    break
                time.sleep(0.05)
            time.sleep(0.3)
        self.assertEqual(failures, [])
        self.assertEqual(seen, {"Trade Republic Bank", "Neue Testbank"})


if __name__ == "__main__":
    unittest.main()
