"""The official directories as every reader finds them in the data folders: the SCL and OeNB directories in the
service's WDDX answers, /status and orvelwddx-check; a copy still being written, a broken file and a file that
grows under its name; superseded editions. The files are written here in the published formats."""

import datetime
import json
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time
import unittest
import urllib.request

SERVICE = os.environ["ORVELWDDX_SERVICE"]
CHECK = os.environ["ORVELWDDX_CHECK"]


def record(blz, name, bic="", method="09"):
    def padded(text, width):
        return text[:width].ljust(width)
    return (padded(blz, 8) + "1" + padded(name, 58) + "10100" + padded("Berlin", 35) + padded(name, 27) + "12345" +
            padded(bic, 11) + padded(method, 2) + "000001" + "U" + "0" + "00000000")


def bank_file(records):
    return "".join(r + "\r\n" for r in records).encode("latin-1")


def scl_file(date, rows):
    head = "Gueltig ab / valid from %s;;;;;;\r\nBIC;Name;SERVICE SCT;SERVICE COR;SERVICE COR1;SERVICE B2B;SERVICE SCC\r\n"
    return (head % date.strftime("%d.%m.%Y") + "".join(";".join(row) + "\r\n" for row in rows)).encode("ascii")


def oenb_file(date, rows):
    head = ("Oesterreichische Nationalbank;;;\r\nSEPA-Zahlungsverkehrs-Verzeichnis;;;\r\nAlle Angaben ohne Gewähr;;;\r\n"
            "\r\nSEPA-Verzeichnis-Abfrage vom %s;;;\r\nKennzeichen;Identnummer;Bankleitzahl;Institutsart;Sektor;"
            "Firmenbuchnummer;Bankenname;Straße;PLZ;Ort;Postadresse / Straße;Postadresse / PLZ;Postadresse / Ort;"
            "Postfach;Bundesland;Telefon;Fax;E-Mail;SWIFT-Code;Homepage;Gründungsdatum;LEI\r\n")
    body = "".join("Hauptanstalt;%d;%s;Aktienbank;S;FN 1;%s;Gasse 1;%s;%s;;;;;Wien;;;;%s;;01.01.1900;\r\n"
                   % (i, blz, name, plz, place, bic) for i, (blz, name, plz, place, bic) in enumerate(rows))
    return (head % date.strftime("%d.%m.%Y") + body).encode("latin-1")


def german_today():
    # Germany's day; an hour ahead of UTC is enough for the dates used here.
    return (datetime.datetime.now(datetime.timezone.utc) + datetime.timedelta(hours=1)).date()


class DataFoldersTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="orvel-data-")
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.data = os.path.join(self.dir, "data")
        os.makedirs(self.data)
        self.env = {k: v for k, v in os.environ.items() if not k.startswith("DBUS_") and k != "ORVELWDDX_DATA_DIR"}
        self.env.update(XDG_DATA_HOME=os.path.join(self.dir, "home"), XDG_CONFIG_HOME=os.path.join(self.dir, "config"))
        self.today = german_today()

    def put(self, name, content):
        with open(os.path.join(self.data, name), "wb") as out:
            out.write(content)

    def day(self, offset):
        return self.today + datetime.timedelta(days=offset)

    def start(self, *arguments):
        service = subprocess.Popen([SERVICE, "--listen", "127.0.0.1:0", *arguments], env=self.env,
                                   stderr=subprocess.PIPE, text=True)
        self.addCleanup(service.wait, 10)
        self.addCleanup(service.terminate)
        self.log = []
        for line in service.stderr:
            self.log.append(line)
            served = re.search(r"serving http 127\.0\.0\.1:0 \(port (\d+)\)", line)
            if served:
                self.port = int(served.group(1))
                return service
        self.fail("the service did not start: %s" % "".join(self.log))

    def get(self, path):
        with urllib.request.urlopen("http://127.0.0.1:%d%s" % (self.port, path), timeout=10) as reply:
            return reply.read().decode("latin-1")

    def wddx(self, query):
        answer = self.get("/tarvik?un=&pw=&" + query)
        return {name: value for name, value in re.findall(r"<var name='(\w+)'><string>([^<]*)</string>", answer)}

    def status(self):
        return json.loads(self.get("/status"))

    def wait_for(self, condition, what):
        for _ in range(300):
            if condition():
                return
            time.sleep(0.05)
        self.fail(what)

    def test_scl_and_oenb_directories_answer_everywhere(self):
        self.put("blz_%s.txt" % self.day(-4).strftime("%Y%m%d"), bank_file([
            record("10040010", "Commerzbank, CC SP", "COBADEFFXXX"),
            record("13040000", "Commerzbank", "COBADEFFXXX"),
            record("50040000", "Commerzbank", "COBADEFFXXX"),
            record("37050198", "Sparkasse KölnBonn", "COLSDE33XXX"),
            record("38050001", "Sparkasse Bonn -alt-", "COLSDE33BON")]))
        self.put("scl_%s.csv" % self.day(-7).strftime("%Y%m%d"), scl_file(self.day(-7), [
            ("BNPAFRPP", "BNP PARIBAS", "1", "1", "0", "1", "0"),
            ("REVOLT21XXX", "Revolut Bank UAB", "1", "0", "0", "0", "0"),
            ("COBADEFFXXX", "Commerzbank AG", "1", "1", "0", "0", "1")]))
        self.put("oenb_%s.csv" % self.day(-1).strftime("%Y%m%d"), oenb_file(self.day(-1), [
            ("100", "Oesterreichische Nationalbank", "1090", "Wien", "NABAATWW"),
            ("32000", "Raiffeisenlandesbank Niederösterreich-Wien AG", "1020", "Wien", "RLNWATWWXXX"),
            ("34000", "Raiffeisenlandesbank Oberösterreich AG", "4020", "Linz", "RZOOAT2L")]))
        self.start("--data-dir", self.data)
        scl_date = self.day(-7).strftime("%d.%m.%Y")

        cases = [
            # query, bicname, SCT, SDD, B2B
            ("bic=BNPAFRPP", "BNP PARIBAS", "1", "1", "1"),
            ("bic=REVOLT21", "Revolut Bank UAB", "1", "0", "0"),
            ("bic=COBADEFF", "Commerzbank AG", "1", "1", "0"),
            # In the bank directory only: its head office, never the "-alt-" branch, and no reachability.
            ("bic=COLSDE33", "Sparkasse KölnBonn", "0", "0", "0"),
            ("bic=SOGEFRPP", "", "0", "0", "0"),
        ]
        for query, name, sct, sdd, b2b in cases:
            with self.subTest(query):
                answer = self.wddx(query)
                self.assertEqual((answer["bicname"], answer["bicsct"], answer["bicsdd"], answer["bicb2b"]),
                                 (name, sct, sdd, b2b))
        self.assertIn("SCL-Verzeichnis vom %s" % scl_date, self.wddx("bic=BNPAFRPP")["resulttext"])
        self.assertEqual(self.wddx("iban=FR7630006000011234567890189&bic=BNPAFRPP")["bicsct"], "1")

        austrian = self.wddx("iban=AT063200000000123456")
        self.assertEqual((austrian["result"], austrian["bankname"], austrian["bic"]),
                         ("5", "Raiffeisenlandesbank Niederösterreich-Wien AG", "RLNWATWWXXX"))
        self.assertIn("Kontonummer nicht geprüft", austrian["resulttext"])
        self.assertEqual(self.wddx("blz=99999&kto=123&c=AT")["result"], "12")
        search = self.get("/tarvik?un=&pw=&search=raiffeisenlandesbank&c=AT")
        self.assertIn("<string>2</string>", search)
        self.assertIn("34000|RZOOAT2L|Raiffeisenlandesbank Oberösterreich AG|4020|Linz", search)

        status = self.status()
        self.assertEqual(status["bankDirectory"]["bicFlagsFrom"], "SCL directory")
        self.assertEqual(status["sclDirectory"]["validFrom"], self.day(-7).isoformat())
        self.assertEqual(status["sclDirectory"]["bics"], 3)
        self.assertEqual(status["oenbDirectory"]["bankCodes"], 3)
        self.assertFalse(status["bankDirectory"]["superseded"])

        # orvelwddx-check, through the service and offline from the same folder.
        for arguments in (["--host", "127.0.0.1:%d" % self.port], ["--offline", "--data-dir", self.data]):
            with self.subTest(arguments[0]):
                checked = subprocess.run([CHECK, *arguments, "bic", "BNPAFRPP"], env=self.env, capture_output=True,
                                         text=True, timeout=30)
                self.assertEqual(checked.returncode, 0, checked.stderr)
                self.assertIn("BicName: BNP PARIBAS\nBicSct: 1\nBicSdd: 1\nBicB2b: 1\n", checked.stdout)
                checked = subprocess.run([CHECK, *arguments, "bic", "COBADEFFXXX"], env=self.env, capture_output=True,
                                         text=True, timeout=30)
                self.assertIn("BicName: Commerzbank AG\nBicSct: 1\nBicSdd: 1\nBicB2b: 0\n", checked.stdout)
        offline = subprocess.run([CHECK, "--offline", "--data-dir", self.data, "iban", "AT063200000000123456"],
                                 env=self.env, capture_output=True, text=True, timeout=30)
        self.assertIn("BankName: Raiffeisenlandesbank Niederösterreich-Wien AG", offline.stdout)
        self.assertIn("SCL-Verzeichnis: gültig ab %s" % scl_date, offline.stdout)

    def test_a_copy_in_progress_waits_and_the_finished_file_is_read(self):
        old = "blz_%s.txt" % self.day(-30).strftime("%Y%m%d")
        self.put(old, bank_file([record("10012345", "Alte Bank")]))
        # The newest edition is broken: passed over at start with a line, the service runs.
        self.put("blz_%s.txt" % self.day(-1).strftime("%Y%m%d"), bank_file(["x" * 168]))
        service = self.start("--data-dir", self.data)
        self.assertTrue(any("passed over" in line and ":1: not a Bundesbank directory record" in line
                            for line in self.log), "".join(self.log))
        self.assertEqual(self.status()["bankDirectory"]["records"], 1)

        new = bank_file([record("1%07d" % i, "Neue Bank %d" % i) for i in range(10)])
        name = os.path.join(self.data, "blz_%s.txt" % self.day(-1).strftime("%Y%m%d"))
        with open(name, "wb") as copy:
            copy.write(new[:500])  # cut inside a record
            copy.flush()
            service.send_signal(signal.SIGHUP)
            time.sleep(0.5)
            self.assertEqual(self.status()["bankDirectory"]["records"], 1)
            copy.write(new[500:170 * 5])  # five whole records: taken for now
            copy.flush()
            service.send_signal(signal.SIGHUP)
            self.wait_for(lambda: self.status()["bankDirectory"]["records"] == 5, "five records not read")
            copy.write(new[170 * 5:])
        # The same name, now complete: its size changed, so it is read again.
        self.wait_for(lambda: self.status()["bankDirectory"]["records"] == 10, "the finished copy was not read")
        self.assertEqual(self.wddx("blz=10000009&kto=1234")["bankname"], "Neue Bank 9")

    def test_superseded_editions_and_the_environment_folder(self):
        bank = bank_file([record("10012345", "Bank")])
        # 92 days old: newer than the built-in data of today, and past 13 weeks.
        self.put("blz_%s.txt" % self.day(-92).strftime("%Y%m%d"), bank)
        self.env["ORVELWDDX_DATA_DIR"] = self.data
        self.start()
        status = self.status()["bankDirectory"]
        self.assertEqual(status["kind"], "Bundesbank file")
        self.assertTrue(status["superseded"])  # no stated end: 13 weeks after its start
        self.assertIn("neuere Ausgabe verfügbar", self.wddx("blz=10012345&kto=1")["resulttext"])

        # The state file names the edition's end and when it was fetched.
        name = "blz_%s.txt" % self.day(-3).strftime("%Y%m%d")
        self.put(name, bank)
        self.put("editions.json", json.dumps({"bundesbank": {
            "file": name, "valid_from": self.day(-3).isoformat(), "valid_until": self.day(80).isoformat(),
            "fetched_at": "2026-12-11T06:00:00+01:00", "result": "installed"}}).encode())
        # The file and the state file land one after the other: each may be read on its own first.
        self.wait_for(lambda: self.status()["bankDirectory"]["path"].endswith(name) and
                      self.status()["bankDirectory"]["validUntil"] == self.day(80).isoformat(),
                      "the new edition and its state were not read")
        status = self.status()["bankDirectory"]
        self.assertFalse(status["superseded"])
        self.assertEqual(status["validUntil"], self.day(80).isoformat())
        self.assertEqual(status["fetchedAt"], "2026-12-11T06:00:00+01:00")
        version = subprocess.run([SERVICE, "--version"], env=self.env, capture_output=True, text=True, timeout=30)
        self.assertIn("Bankleitzahlen (Deutsche Bundesbank): gültig ab %s bis %s, geladen am 11.12.2026 06:00"
                      % (self.day(-3).strftime("%d.%m.%Y"), self.day(80).strftime("%d.%m.%Y")), version.stdout)


if __name__ == "__main__":
    unittest.main()
