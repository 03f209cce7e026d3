"""orvelwddx-check --offline gives the same answers as the local service for every case of the rules' tables.

The cases are read from the rules' table tests (tests/rules/*.cpp), so a case added there is compared here too: each
kind of input (IBAN, bank code with account, BIC, card number, VAT id, postal code with place, search words) runs once
through the service started here and once offline, as a batch or as single checks, and the outputs must be equal
byte for byte, apart from the line that names the offline data.
"""

import codecs
import csv
import io
import os
import pathlib
import re
import shutil
import subprocess
import tempfile
import threading
import unittest
import warnings

ROOT = pathlib.Path(__file__).resolve().parents[2]
CHECK = os.environ["ORVELWDDX_CHECK"]
SERVICE = os.environ["ORVELWDDX_SERVICE"]
RULE_TESTS = ROOT / "tests" / "rules"


def literals(text):
    """The C++ string literals of a source, escapes decoded (the tables write UTF-8 and Windows-1252 bytes)."""
    found = []
    for match in re.finditer(r'"((?:[^"\\\n]|\\.)*)"', text):
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", DeprecationWarning)  # regular expressions in raw literals
            raw = codecs.escape_decode(match.group(1).encode("utf-8"))[0]
        try:
            found.append(raw.decode("utf-8"))
        except UnicodeDecodeError:
            found.append(raw.decode("cp1252"))
    return found


def rule_cases():
    """{kind: sorted set of tuples} from the rules' table tests."""
    sources = {path.name: path.read_text(encoding="utf-8") for path in RULE_TESTS.glob("*.cpp")}
    every = [value for text in sources.values() for value in literals(text)]
    cases = {"iban": set(), "bic": set(), "card": set(), "blz": set(), "vat": set(), "address": set(),
             "plz": set(), "search": set()}
    for value in every:
        compact = value.replace(" ", "")
        if re.fullmatch(r"[A-Za-z]{2}[0-9]{2}[A-Za-z0-9]{10,30}", compact):
            cases["iban"].add((value,))
        if re.fullmatch(r"[A-Za-z]{6}[A-Za-z0-9]{2}([A-Za-z0-9]{3})?", compact) or re.fullmatch(r"[A-Z]{3,12}", value):
            cases["bic"].add((value,))
        if re.fullmatch(r"[0-9][0-9 -]{10,24}", value):
            cases["card"].add((value,))
        if re.fullmatch(r" *[0-9]{5} *", value):
            cases["plz"].add((value,))
    for text in sources.values():
        for blz, kto in re.findall(r'"([0-9 ]{6,10})",\s*"([0-9 ]{0,12})"', text):
            cases["blz"].add((blz, kto))
        for plz, place in re.findall(r'"( *[0-9]{5} *)",\s*"((?:[^"\\]|\\.)*)"', text):
            cases["address"].add((plz, literals('"%s"' % place)[0]))
    for country, number in re.findall(r'VatCase\{"([^"]*)",\s*"([^"]*)"', sources.get("VatRulesTest.cpp", "")):
        cases["vat"].add((country + number,))
    for words in re.findall(r'\{"((?:[^"\\]|\\.)*)",\s*(?:true|false),', sources.get("TarvikChecksTest.cpp", "")):
        cases["search"].add((literals('"%s"' % words)[0],))
    return {kind: sorted(rows) for kind, rows in cases.items()}


class OfflineTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="orvel-offline-")
        # No settings of the user: the service and the offline checks both find the data where a fresh install does.
        cls.env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(cls.dir, "config"),
                       XDG_DATA_HOME=os.path.join(cls.dir, "data"), ORVELWDDX_USER="demo", ORVELWDDX_PASS="wexo",
                       ORVELWDDX_TIMEOUT="60000")
        cls.service = subprocess.Popen([SERVICE, "--listen", "127.0.0.1:0"], env=cls.env, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.PIPE, text=True)
        log = ""
        for line in cls.service.stderr:
            log += line
            served = re.search(r"serving http 127\.0\.0\.1:0 \(port (\d+)\)", line)
            if served:
                break
        else:
            raise RuntimeError("the service did not start: " + log)
        # The rest of its log is not read; it goes nowhere rather than filling the pipe.
        threading.Thread(target=cls.service.stderr.read, daemon=True).start()
        host = "127.0.0.1:" + served.group(1)
        cls.env.update(ORVELWDDX_HOST=host,
                       ORVELWDDX_VIES_URL="http://%s/taxation_customs/vies/services/checkVatService" % host)
        cls.cases = rule_cases()

    @classmethod
    def tearDownClass(cls):
        cls.service.terminate()
        cls.service.wait(10)
        shutil.rmtree(cls.dir, True)

    def check(self, *args, stdin=None):
        return subprocess.run([CHECK, *args], env=self.env, input=stdin, capture_output=True, timeout=120)

    def both(self, *args, stdin=None):
        """(through the service, offline) for one command line."""
        return self.check(*args, stdin=stdin), self.check("--offline", *args, stdin=stdin)

    def batch(self, header, rows, *options):
        text = io.StringIO()
        writer = csv.writer(text, lineterminator="\n")
        writer.writerow(header)
        writer.writerows(rows)
        service, offline = self.both(*options, "batch", "-", stdin=text.getvalue().encode("utf-8"))
        self.assertIn(service.returncode, (0, 1, 3), service.stderr.decode())
        self.assertEqual(offline.returncode, service.returncode, offline.stderr.decode())
        self.assertIn(b"offline", offline.stderr)
        expected = list(csv.reader(io.StringIO(service.stdout.decode())))
        got = list(csv.reader(io.StringIO(offline.stdout.decode())))
        self.assertEqual(len(got), len(rows) + 1)
        for line, (want, have) in enumerate(zip(expected, got)):
            self.assertEqual(have, want, "row %d of %s" % (line, header))

    def test_the_cases_are_there(self):
        for kind, rows in self.cases.items():
            self.assertGreaterEqual(len(rows), 3, kind)

    def test_account_side_in_batches(self):
        self.batch(["iban"], self.cases["iban"])
        self.batch(["blz", "kto"], self.cases["blz"])
        self.batch(["bic"], self.cases["bic"])
        self.batch(["card"], self.cases["card"])
        pairs = [(iban, bic) for (iban,) in self.cases["iban"][:40] for (bic,) in self.cases["bic"][:8]]
        self.batch(["iban", "bic"], pairs)

    def test_addresses_in_every_rewrite_mode(self):
        for mode in "0123":
            with self.subTest(rewrite=mode):
                self.batch(["plz", "ort"], self.cases["address"], "--rewrite", mode)
                self.batch(["plz", "ort", "str", "hnr"], [(plz, place, "Hauptstr.", "1")
                                                          for plz, place in self.cases["address"]], "--rewrite", mode)
        self.batch(["plz"], self.cases["plz"])

    def test_vat_ids(self):
        self.batch(["vat"], self.cases["vat"])

    def test_single_checks_in_json_with_their_exit_status(self):
        commands = [["search", words] for (words,) in self.cases["search"] if words.strip()]
        commands += [["search", "--fragments", words] for (words,) in self.cases["search"] if words.strip()]
        commands += [["--json", "iban", self.cases["iban"][0][0]], ["--json", "vat", "DE136695976"],
                     ["--json", "bic", "ABC"], ["--json", "blz", "37040044", "0532013000"],
                     ["--json", "address", "80331", "Muenchen"], ["--json", "plz-type", "99999"]]
        for command in commands:
            with self.subTest(command=command):
                service, offline = self.both(*command)
                self.assertEqual(offline.returncode, service.returncode, offline.stderr.decode())
                if "--json" in command:
                    got = offline.stdout.decode()
                    self.assertRegex(got, r', "Offline": "[^"]*Bankdaten vom [0-9.]+[^"]*"\}\n$')
                    got = re.sub(r', "Offline": "[^"]*"\}\n$', "}\n", got)
                else:
                    got = re.sub(r"Offline: [^\n]*\n$", "", offline.stdout.decode())
                self.assertEqual(got, service.stdout.decode())

    def test_offline_excludes_the_bus(self):
        both = self.check("--offline", "--bus", "iban", "DE89370400440532013000")
        self.assertEqual(both.returncode, 2)
        self.assertIn(b"--offline", both.stderr)

    def test_version_names_the_data_offline_answers_from(self):
        version = self.check("--version")
        self.assertEqual(version.returncode, 0, version.stderr)
        text = version.stdout.decode()
        self.assertRegex(text, r"^orvelwddx-check \d+\.\d+\.\d+\n")
        self.assertRegex(text, r"bank directory \S+/bankleitzahlen\.tsv \(built-in data: npm bankdata-germany [^;]+;"
                               r".*valid from \d\d\.\d\d\.\d{4}; \d+ bank codes")
        self.assertIn("postleitzahlen.tsv", text)


if __name__ == "__main__":
    unittest.main(verbosity=2)
