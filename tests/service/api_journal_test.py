"""The JSON API's qualified confirmations and journal: asked of a second service that stands in for VIES and the BZSt,
journaled on the service's machine, read back as JSON, as a proof PDF, and by orvelwddx-check journal."""

import base64
import json
import os
import shutil
import subprocess
import socket
import tempfile
import threading
import time
import unittest

from apiservice import USERS, Service, call as request

CHECK = os.environ["ORVELWDDX_CHECK"]
OWN = "DE136695976"


def basic_header(user, password):
    return {"Authorization": "Basic " + base64.b64encode(f"{user}:{password}".encode()).decode()}


def call(url, body=None, method=None, headers=None):
    data = json.dumps(body).encode() if isinstance(body, dict) else body
    return request(url, data, method, dict({"Content-Type": "application/json"} if data is not None else {},
                                           **(headers or {})))


class ApiJournalTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="orvel-api-journal-")
        cls.addClassCleanup(shutil.rmtree, cls.dir, True)
        # The stand-in answers the first two confirmations busy: one request of the API, tried twice.
        cls.standin = Service("--busy-answers", "2")
        cls.addClassCleanup(cls.standin.stop)
        cls.journal = os.path.join(cls.dir, "journal.sqlite")
        cls.env = dict(os.environ, XDG_DATA_HOME=os.path.join(cls.dir, "data"),
                       XDG_CONFIG_HOME=os.path.join(cls.dir, "config"),
                       ORVELWDDX_VIES_URL=cls.standin.url("/taxation_customs/vies/services/checkVatService"),
                       ORVELWDDX_BZST_URL=cls.standin.url("/app/v1/abfrage"))
        cls.service = Service("--OwnVatId", OWN, "--journal", cls.journal, env=cls.env)
        cls.addClassCleanup(cls.service.stop)
        # The confirmations every test reads, in this order.
        cls.busy = call(cls.service.url("/api/v1/vat/confirmations"), {"vat_id": "ATU13585627", "name": "Muster",
                                                                       "city": "Wien"})
        cls.asked = {}
        for label, body in [
            ("vies valid", {"vat_id": "atu 135 856 27", "name": "Muster GmbH", "city": "Wien",
                            "reference": "RE-2026-17"}),
            ("vies invalid", {"vat_id": "ATU13585628", "name": "Muster", "city": "Wien"}),
            ("bzst valid", {"vat_id": "ATU13585627", "name": "Muster", "city": "Wien", "service": "bzst"}),
        ]:
            cls.asked[label] = call(cls.service.url("/api/v1/vat/confirmations"), body)

    def test_a_busy_service_is_503_with_retry_after_and_kept_as_pending(self):
        status, headers, body = self.busy
        self.assertEqual(status, 503, body)
        self.assertEqual(headers["Content-Type"], "application/problem+json; charset=utf-8")
        self.assertEqual(headers["Retry-After"], "60")
        problem = json.loads(body)
        self.assertEqual(problem["type"], "/api/v1/problems/busy")
        self.assertIn("MS_MAX_CONCURRENT_REQ", problem["fault"])
        self.assertEqual(headers["Location"], "/api/v1/journal/%d" % problem["journal_id"])
        self.service.holds(problem, "PendingProblem")
        status, _, body = call(self.service.url(headers["Location"]))
        self.assertEqual(json.loads(body)["status"], "not-checked")

    def test_confirmations_are_201_with_their_record_and_its_location(self):
        cases = [
            # label, status, valid, qualified, service
            ("vies valid", "valid", True, True, "vies"),
            ("vies invalid", "invalid", False, False, "vies"),
            ("bzst valid", "valid", True, False, "bzst"),
        ]
        for label, verdict, valid, qualified, service in cases:
            with self.subTest(label):
                status, headers, body = self.asked[label]
                self.assertEqual(status, 201, body)
                record = json.loads(body)
                self.assertEqual(headers["Location"], "/api/v1/journal/%d" % record["id"])
                self.assertEqual((record["status"], record["valid"], record["service"]), (verdict, valid, service))
                self.assertEqual(record["own_vat_id"], OWN)
                self.assertEqual(record["vat_id"], "ATU13585628" if "invalid" in label else "ATU13585627")
                self.assertNotIn("raw_disagrees", record)
                self.service.holds(record, "JournalRecord")
                self.assertTrue(record["raw"])
        self.assertEqual(json.loads(self.asked["vies valid"][2])["reference"], "RE-2026-17")

    def test_an_id_outside_vies_is_answered_at_once_and_not_journaled(self):
        status, headers, body = call(self.service.url("/api/v1/vat/confirmations"), {"vat_id": "GB123456789"})
        self.assertEqual(status, 200, body)
        self.assertNotIn("Location", headers)
        answer = json.loads(body)
        self.service.holds(answer, "OutsideVies")
        self.assertEqual(answer["status"], "invalid")
        self.assertEqual(answer["message"], "kein EU-Mitgliedstaat: VIES prüft nur USt-IdNrn. der EU-Mitgliedstaaten "
                                            "und Nordirlands (XI)")
        status, _, body = call(self.service.url("/api/v1/journal?id=GB123456789"))
        self.assertEqual(json.loads(body)["records"], [])

    def test_bad_requests_are_problems_and_nothing_is_journaled(self):
        before = len(json.loads(call(self.service.url("/api/v1/journal"))[2])["records"])
        cases = [
            # label, body, method, status, type
            ("not JSON", b"{vat", "POST", 400, "bad-input"),
            ("not an object", b"[]", "POST", 400, "bad-input"),
            ("a key twice", b'{"vat_id": "ATU13585627", "vat_id": "DE136695976"}', "POST", 400, "bad-input"),
            ("no id", {"name": "Muster"}, "POST", 400, "bad-input"),
            ("unknown field", {"vat_id": "ATU13585627", "own_vat_id": "DE1"}, "POST", 400, "bad-input"),
            ("a number", {"vat_id": 13585627}, "POST", 400, "bad-input"),
            ("other service", {"vat_id": "ATU13585627", "service": "soap"}, "POST", 400, "bad-input"),
            ("company type", {"vat_id": "ATU13585627", "company_type": "GmbH"}, "POST", 400, "bad-input"),
            ("GET", None, "GET", 405, "method-not-allowed"),
            ("form data", b"vat_id=ATU13585627", "POST", 415, "unsupported-media-type"),
        ]
        for label, body, method, status, cause in cases:
            with self.subTest(label):
                form = {"Content-Type": "application/x-www-form-urlencoded"} if label == "form data" else None
                got, headers, answer = call(self.service.url("/api/v1/vat/confirmations"), body, method, form)
                self.assertEqual(got, status, answer)
                self.assertEqual(headers["Content-Type"], "application/problem+json; charset=utf-8")
                self.assertEqual(json.loads(answer)["type"], "/api/v1/problems/" + cause)
                self.service.holds(json.loads(answer), "Problem")
        self.assertEqual(len(json.loads(call(self.service.url("/api/v1/journal"))[2])["records"]), before)

    def test_the_journal_is_listed_filtered_and_found_by_id(self):
        status, _, body = call(self.service.url("/api/v1/journal"))
        self.assertEqual(status, 200)
        self.service.holds(json.loads(body), "JournalList")
        records = json.loads(body)["records"]
        self.assertGreaterEqual(len(records), 4)
        self.assertNotIn("raw", records[0])
        today = time.strftime("%Y-%m-%d", time.gmtime())
        cases = [
            # label, query, status, how many records at least, at most
            ("by id", "?id=ATU13585628", 200, 1, 1),
            ("by id as typed", "?id=at%20u13585628", 200, 1, 1),
            ("today", "?from=%s&to=%s" % (today, today), 200, 4, 100),
            ("from tomorrow on", "?from=2999-01-01", 200, 0, 0),
            ("a German date", "?from=01.12.2026", 400, None, None),
        ]
        for label, query, status, least, most in cases:
            with self.subTest(label):
                got, _, answer = call(self.service.url("/api/v1/journal" + query))
                self.assertEqual(got, status, answer)
                if least is not None:
                    self.assertTrue(least <= len(json.loads(answer)["records"]) <= most, answer)
        for path, status in [("/api/v1/journal/%d" % records[1]["id"], 200), ("/api/v1/journal/99999", 404),
                             ("/api/v1/journal/x1", 404), ("/api/v1/journal/", 404),
                             ("/api/v1/journal/99999/proof.pdf", 404)]:
            with self.subTest(path):
                got, _, answer = call(self.service.url(path))
                self.assertEqual(got, status, answer)
        self.assertEqual(json.loads(call(self.service.url("/api/v1/journal/%d" % records[1]["id"]))[2])["id"],
                         records[1]["id"])

    def test_the_proof_pdf_is_the_commands(self):
        record = json.loads(self.asked["vies valid"][2])
        status, headers, body = call(self.service.url("/api/v1/journal/%d/proof.pdf" % record["id"]))
        self.assertEqual(status, 200, body[:200])
        self.assertEqual(headers["Content-Type"], "application/pdf")
        self.assertTrue(body.startswith(b"%PDF"))
        pdf = os.path.join(self.dir, "proof.pdf")
        with open(pdf, "wb") as out:
            out.write(body)
        text = subprocess.run(["pdftotext", "-layout", pdf, "-"], capture_output=True, text=True, timeout=60).stdout
        self.assertIn("ATU13585627", text)
        self.assertIn("RE-2026-17", text)
        self.assertIn(record["request_id"], text)

    def test_orvelwddx_check_reads_the_journal_the_service_wrote(self):
        env = dict(self.env, ORVELWDDX_JOURNAL=self.journal)
        listed = subprocess.run([CHECK, "journal", "--json"], env=env, capture_output=True, timeout=60)
        self.assertEqual(listed.returncode, 0, listed.stderr)
        mine = json.loads(call(self.service.url("/api/v1/journal"))[2])["records"]
        text = listed.stdout.decode()
        for record in mine:
            self.assertIn(record["request_id"] or record["vat_id"], text)
        verified = subprocess.run([CHECK, "journal", "--verify"], env=env, capture_output=True, timeout=60)
        self.assertEqual(verified.returncode, 0, verified.stdout + verified.stderr)


class ApiJournalSettingsTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="orvel-api-settings-")
        self.addCleanup(shutil.rmtree, self.dir, True)

    def start(self, *options):
        service = Service("--journal", os.path.join(self.dir, "journal.sqlite"), *options,
                          env=dict(os.environ, XDG_CONFIG_HOME=self.dir))
        self.addCleanup(service.stop)
        return service

    def test_without_a_right_own_id_the_service_says_so_and_journals_nothing(self):
        for label, options, cause in [("none", (), "own-vat-id-missing"),
                                      ("a wrong check digit", ("--OwnVatId", "DE136695977"), "own-vat-id-refused")]:
            with self.subTest(label):
                service = self.start(*options)
                status, _, body = call(service.url("/api/v1/vat/confirmations"), {"vat_id": "ATU13585627"})
                self.assertEqual(status, 500, body)
                problem = json.loads(body)
                self.assertEqual(problem["type"], "/api/v1/problems/" + cause)
                self.assertIn("eigene USt-IdNr.", problem["title"])
                self.assertEqual(json.loads(call(service.url("/api/v1/journal"))[2])["records"], [])

    def test_a_confirmation_waiting_on_vies_holds_no_other_request(self):
        # VIES accepts the connection and never answers; the service has one thread.
        silent = socket.socket()
        silent.bind(("127.0.0.1", 0))
        silent.listen(8)
        self.addCleanup(silent.close)
        env = dict(os.environ, XDG_CONFIG_HOME=self.dir,
                   ORVELWDDX_VIES_URL="http://127.0.0.1:%d/taxation_customs/vies/services/checkVatService"
                                      % silent.getsockname()[1])
        service = Service("--journal", os.path.join(self.dir, "journal.sqlite"), "--OwnVatId", OWN, "--threads",
                          "1", env=env)
        self.addCleanup(service.stop)
        answer = {}
        waiting = threading.Thread(target=lambda: answer.update(confirmation=call(
            service.url("/api/v1/vat/confirmations"), {"vat_id": "ATU13585627"})))
        waiting.start()
        time.sleep(0.5)
        for _ in range(20):
            self.assertEqual(call(service.url("/api/v1/journal"))[0], 200)
            self.assertTrue(waiting.is_alive(), "the confirmation is still waiting on VIES")
        waiting.join(60)
        status, headers, body = answer["confirmation"]
        self.assertEqual(status, 503, body)
        self.assertEqual(headers["Retry-After"], "60")

    def test_with_a_users_file_this_machine_logs_in_too(self):
        service = self.start("--users-file", USERS)
        good = {"Authorization": "Basic " + base64.b64encode(b"demo:wexo").decode()}
        wrong = {"Authorization": "Basic " + base64.b64encode(b"demo:wrong").decode()}
        for label, headers, status in [("none", {}, 401), ("wrong", wrong, 401), ("right", good, 200)]:
            with self.subTest(label):
                got, answer_headers, body = call(service.url("/api/v1/journal"), headers=headers)
                self.assertEqual(got, status, body)
                if status == 401:
                    self.assertEqual(answer_headers["WWW-Authenticate"], 'Basic realm="OrvelWddx", charset="UTF-8"')
                    self.assertEqual(json.loads(body)["type"], "/api/v1/problems/unauthorized")


    def test_the_journal_logs_in_as_every_path_of_the_api(self):
        service = self.start("--users-file", USERS)
        page = {"X-Requested-With": "XMLHttpRequest"}
        got, answer_headers, _ = call(service.url("/api/v1/journal"), headers=page)
        self.assertEqual(got, 401)
        self.assertNotIn("WWW-Authenticate", answer_headers)
        # Failures on the journal lock the name out of the single checks too, and the right password waits as well.
        for _ in range(5):
            call(service.url("/api/v1/journal"), headers=basic_header("demo", "rate"))
        for path in ("/api/v1/journal", "/api/v1/iban/DE89370400440532013000"):
            with self.subTest(path):
                got, answer_headers, body = call(service.url(path), headers=basic_header("demo", "wexo"))
                self.assertEqual((got, json.loads(body)["type"]), (429, "/api/v1/problems/throttled"))
                self.assertGreater(int(answer_headers["Retry-After"]), 0)


if __name__ == "__main__":
    unittest.main()
