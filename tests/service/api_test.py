"""The service's JSON API (/api/v1/): each path with good and bad input, logins and limits; the same result code and
text as the WDDX answer to the same question; every answer these tests see held against the schema the OpenAPI
document gives for its path and status; the document itself through a real OpenAPI validator (scripts/setup installs
it from tests/openapi's lock file)."""

import base64
import http.client
import json
import os
import re
import subprocess
import tempfile
import time
import unittest
import urllib.parse
import xml.etree.ElementTree as ElementTree

import jsonschema

from apiservice import free_port, wait_until_listening

SERVICE = os.environ["ORVELWDDX_SERVICE"]
VALIDATOR = os.environ["ORVELWDDX_OPENAPI_VALIDATOR"]
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
DOCUMENT = os.path.join(ROOT, "src", "service", "data", "openapi.json")
USERS = os.path.join(ROOT, "src", "service", "data", "users.example")  # demo, password wexo
VIES_PATH = "/taxation_customs/vies/services/checkVatService"
IBAN = "DE89370400440532013000"
CARD = "4111111111111111"

with open(DOCUMENT, encoding="utf-8") as document_file:
    OPENAPI = json.load(document_file)


def basic(user, password):
    return {"Authorization": "Basic " + base64.b64encode(("%s:%s" % (user, password)).encode()).decode()}


def documented(path, method, status, content_type):
    """The schema the document gives for this answer; fails the test when it documents none."""
    route = next((r for r in OPENAPI["paths"] if re.fullmatch(re.sub(r"\{[^}]+\}", "[^/]+", r), path)), None)
    operation = OPENAPI["paths"][route].get("get" if method == "HEAD" else method.lower()) if route else None
    answers = operation["responses"] if operation else {}
    answer = answers.get(str(status))
    if operation is None or answer is None:
        # No such path, a method the path does not serve, a status of the server itself: a problem of the common kind.
        assert content_type.startswith("application/problem+json"), (method, path, status)
        return {"$ref": "#/components/schemas/Problem"}
    if "$ref" in answer:
        answer = OPENAPI["components"]["responses"][answer["$ref"].rsplit("/", 1)[1]]
    media = content_type.split(";")[0]
    assert media in answer["content"], (method, path, status, media)
    return answer["content"][media]["schema"]


class Service:
    def __init__(self, *options):
        self.port = free_port()
        self.dir = tempfile.TemporaryDirectory(prefix="orvel-api-")
        self.log = tempfile.TemporaryFile()
        # The service asks VIES at its own stand-in of it, which answers VIES's test numbers.
        env = dict(os.environ, ORVELWDDX_DATA_DIR=self.dir.name, XDG_DATA_HOME=self.dir.name,
                   ORVELWDDX_VIES_URL="http://127.0.0.1:%d%s" % (self.port, VIES_PATH))
        self.proc = subprocess.Popen([SERVICE, "--listen", "127.0.0.1:%d" % self.port, "--threads", "4", "--log"] +
                                     list(options), stderr=self.log, env=env)
        wait_until_listening(self.port)

    def stop(self):
        self.proc.terminate()
        self.proc.wait(timeout=10)
        self.dir.cleanup()

    def logged(self):
        self.log.seek(0)
        return self.log.read().decode("utf-8", "replace")

    def raw(self, method, path, body=None, headers=None):
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=20)
        try:
            connection.request(method, path, body=body, headers=headers or {})
            reply = connection.getresponse()
            return reply.status, {k.lower(): v for k, v in reply.getheaders()}, reply.read()
        finally:
            connection.close()

    def ask(self, method, path, body=None, headers=None):
        """Status, headers and the JSON of an /api/v1/ answer, after holding it against the OpenAPI document."""
        headers = dict(headers or {})
        if isinstance(body, (dict, list)):
            body = json.dumps(body).encode()
        if body is not None:
            headers.setdefault("Content-Type", "application/json")
        status, answer_headers, raw = self.raw(method, path, body, headers)
        content_type = answer_headers.get("content-type", "")
        assert content_type.startswith(("application/json", "application/problem+json")), (path, content_type)
        data = json.loads(raw) if raw else None
        schema = documented(urllib.parse.urlsplit(path).path, method, status, content_type)
        jsonschema.Draft202012Validator(dict(schema, components=OPENAPI["components"])).validate(data)
        if content_type.startswith("application/json") and path != "/api/v1/openapi.json":
            assert answer_headers.get("cache-control") == "no-store", path
        return status, answer_headers, data

    def wddx(self, query):
        """result and resulttext of a WDDX answer (Windows-1252)."""
        status, _, raw = self.raw("GET", query)
        assert status == 200, query
        values = {var.get("name"): var.findtext("string") or "" for var in
                  ElementTree.fromstring(raw.decode("cp1252")).iter("var")}
        return int(values["result"]), values["resulttext"]


class SingleChecksTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.service = Service("--max-body", "4096")

    @classmethod
    def tearDownClass(cls):
        cls.service.stop()

    def test_each_path_answers_good_and_bad_input(self):
        # label, method, path, body, status, check, valid
        cases = [
            ("IBAN", "GET", "/api/v1/iban/" + IBAN, None, 200, "iban", True),
            ("IBAN, a digit changed", "GET", "/api/v1/iban/DE89370400440532013001", None, 200, "iban", False),
            ("IBAN with its BIC", "GET", "/api/v1/iban/%s?bic=COBADEFFXXX" % IBAN, None, 200, "iban_bic", True),
            ("IBAN with another bank's BIC", "GET", "/api/v1/iban/%s?bic=DEUTDEFFXXX" % IBAN, None, 200, "iban_bic",
             False),
            ("account", "GET", "/api/v1/account?bank_code=37040044&account=0532013000", None, 200, "account", True),
            ("account, wrong check digit", "GET", "/api/v1/account?bank_code=37040044&account=1234567890", None, 200,
             "account", False),
            ("account without number", "GET", "/api/v1/account?bank_code=37040044", None, 400, None, None),
            ("BIC", "GET", "/api/v1/bic/COBADEFFXXX", None, 200, "bic", True),
            ("BIC malformed", "GET", "/api/v1/bic/CO1", None, 200, "bic", False),
            ("card", "POST", "/api/v1/card", {"number": CARD}, 200, "card", True),
            ("card, Luhn fails", "POST", "/api/v1/card", {"number": "4111111111111112"}, 200, "card", False),
            ("card without number", "POST", "/api/v1/card", {}, 400, None, None),
            ("card number as a number", "POST", "/api/v1/card", {"number": 4111111111111111}, 400, None, None),
            ("card body not an object", "POST", "/api/v1/card", ["4111111111111111"], 400, None, None),
            ("card number named twice", "POST", "/api/v1/card", b'{"number": "1", "number": "4111111111111111"}', 400,
             None, None),
            ("bank search", "GET", "/api/v1/banks?q=Commerzbank&fragments=true", None, 200, "banks", True),
            ("bank search, fragments not a flag", "GET", "/api/v1/banks?q=x&fragments=maybe", None, 400, None, None),
            ("bank search without words", "GET", "/api/v1/banks?country=DE", None, 400, None, None),
            ("address", "GET", "/api/v1/address?zip=50667&city=K%C3%B6ln", None, 200, "address", True),
            ("address, other place", "GET", "/api/v1/address?zip=50667&city=Bonn", None, 200, "address", False),
            ("address, rewrite not a number", "GET", "/api/v1/address?zip=50667&city=K&rewrite=x", None, 400, None,
             None),
            ("address without place", "GET", "/api/v1/address?zip=50667", None, 400, None, None),
            ("postal code", "GET", "/api/v1/postal-codes/50667", None, 200, "postal_code_type", True),
            ("postal code malformed", "GET", "/api/v1/postal-codes/5066x", None, 200, "postal_code_type", False),
            ("VAT id", "GET", "/api/v1/vat/DE136695976", None, 200, "vat", True),
            ("VAT id, check digit wrong", "GET", "/api/v1/vat/DE136695977", None, 200, "vat", False),
            ("VAT id at VIES, valid", "GET", "/api/v1/vat/DE100?vies=true", None, 200, "vat", True),
            ("VAT id at VIES, invalid", "GET", "/api/v1/vat/DE200?vies=true", None, 200, "vat", False),
            ("VAT id at VIES, refused input", "GET", "/api/v1/vat/DE201?vies=true", None, 400, None, None),
            ("VAT id outside VIES", "GET", "/api/v1/vat/GB123456789?vies=true", None, 400, None, None),
            ("VIES flag not a flag", "GET", "/api/v1/vat/DE100?vies=ja", None, 400, None, None),
        ]
        for label, method, path, body, status, check, valid in cases:
            with self.subTest(label):
                got, _, answer = self.service.ask(method, path, body)
                self.assertEqual(got, status, answer.get("detail"))
                if status == 200:
                    self.assertEqual(answer["check"], check)
                    self.assertEqual(answer["valid"], valid, answer["result_text"])
                else:
                    self.assertEqual(answer["type"], "/api/v1/problems/bad-input")

    def test_typed_fields_beside_the_result(self):
        _, _, iban = self.service.ask("GET", "/api/v1/iban/%s?bic=COBADEFFXXX" % IBAN)
        self.assertEqual(iban["bank"], {"name": "Commerzbank", "bic": "COBADEFFXXX", "code": "37040044",
                                        "zip": "50447", "city": "Köln"})
        self.assertEqual((iban["sepa"]["sct"], iban["sepa"]["sdd"]), (True, True))
        self.assertEqual(iban["data"]["superseded"] in (True, False), True)
        _, _, banks = self.service.ask("GET", "/api/v1/banks?q=Commerzbank%20K%C3%B6ln")
        self.assertIn({"code": "37040044", "bic": "COBADEFFXXX", "name": "Commerzbank", "zip": "50447",
                       "city": "Köln"}, banks["banks"])
        self.assertEqual(banks["result"], len(banks["banks"]))
        _, _, places = self.service.ask("GET", "/api/v1/address?zip=50667&city=Bonn")
        self.assertIn({"zip": "50667", "city": "Köln"}, places["places"])

    def test_busy_vies_is_503_with_retry_after(self):
        status, headers, problem = self.service.ask("GET", "/api/v1/vat/DE600?vies=true")
        self.assertEqual((status, problem["type"]), (503, "/api/v1/problems/busy"))
        self.assertGreater(int(headers["retry-after"]), 0)

    def test_same_result_and_text_as_wddx(self):
        # WDDX query (Windows-1252, as the objects send it), the same question to the JSON API
        cases = [
            ("/tarvik?iban=" + IBAN, "GET", "/api/v1/iban/" + IBAN),
            ("/tarvik?iban=DE89370400440532013001", "GET", "/api/v1/iban/DE89370400440532013001"),
            ("/tarvik?iban=%s&bic=COBADEFFXXX" % IBAN, "GET", "/api/v1/iban/%s?bic=COBADEFFXXX" % IBAN),
            ("/tarvik?blz=37040044&kto=0532013000", "GET", "/api/v1/account?bank_code=37040044&account=0532013000"),
            ("/tarvik?blz=37040044&kto=1234567890", "GET", "/api/v1/account?bank_code=37040044&account=1234567890"),
            ("/tarvik?blz=1234&kto=1&c=AT", "GET", "/api/v1/account?bank_code=1234&account=1&country=AT"),
            ("/tarvik?bic=COBADEFFXXX", "GET", "/api/v1/bic/COBADEFFXXX"),
            ("/tarvik?bic=CO1", "GET", "/api/v1/bic/CO1"),
            ("/tarvik?cc=" + CARD, "POST", "/api/v1/card"),
            ("/tarvik?search=K%F6ln&fragments=1", "GET", "/api/v1/banks?q=K%C3%B6ln&fragments=1"),
            ("/tarvik?search=x&c=FR", "GET", "/api/v1/banks?q=x&country=FR"),
            ("/address?func=check&plz=50667&ort=K%F6ln", "GET", "/api/v1/address?zip=50667&city=K%C3%B6ln"),
            ("/address?func=check&plz=50667&ort=Bonn", "GET", "/api/v1/address?zip=50667&city=Bonn"),
            ("/address?func=check&plz=50667&ort=K%F6ln&str=Domkloster&hnr=4", "GET",
             "/api/v1/address?zip=50667&city=K%C3%B6ln&street=Domkloster&house_number=4"),
            ("/address?func=type&plz=99999", "GET", "/api/v1/postal-codes/99999"),
            ("/address?func=type&plz=5066", "GET", "/api/v1/postal-codes/5066"),
        ]
        for wddx, method, path in cases:
            with self.subTest(wddx):
                body = {"number": CARD} if method == "POST" else None
                status, _, answer = self.service.ask(method, path, body)
                self.assertEqual(status, 200)
                self.assertEqual((answer["result"], answer["result_text"]), self.service.wddx(wddx))

    def test_limits_are_problems(self):
        # label, method, path, body, headers, status, type, Allow
        big = json.dumps({"number": "4" * 5000}).encode()
        cases = [
            ("POST where GET is served", "POST", "/api/v1/iban/" + IBAN, b"{}", {"Content-Type": "application/json"},
             405, "method-not-allowed", "GET, HEAD"),
            ("GET where POST is served", "GET", "/api/v1/card", None, {}, 405, "method-not-allowed", "POST"),
            ("a method the server serves nowhere", "DELETE", "/api/v1/bic/COBADEFFXXX", None, {}, 405,
             "method-not-allowed", "GET, HEAD, POST"),
            ("a card number as a form", "POST", "/api/v1/card", b"number=" + CARD.encode(),
             {"Content-Type": "application/x-www-form-urlencoded"}, 415, "unsupported-media-type", None),
            ("JSON that does not parse", "POST", "/api/v1/card", b"{\"number\": ", {"Content-Type": "application/json"},
             400, "bad-input", None),
            ("a body over the limit", "POST", "/api/v1/card", big, {"Content-Type": "application/json"}, 413,
             "too-large", None),
            ("no such path", "GET", "/api/v1/nothing", None, {}, 404, "not-found", None),
            ("a check without its segment", "GET", "/api/v1/iban/", None, {}, 404, "not-found", None),
        ]
        for label, method, path, body, headers, status, kind, allow in cases:
            with self.subTest(label):
                got, answer_headers, problem = self.service.ask(method, path, body, headers)
                self.assertEqual((got, problem["type"], problem["status"]), (status, "/api/v1/problems/" + kind, status))
                self.assertTrue(problem["title"])
                self.assertEqual(answer_headers.get("allow"), allow)

    def test_card_numbers_never_reach_the_log(self):
        self.service.ask("POST", "/api/v1/card", {"number": "5500000000000004"})
        self.service.ask("GET", "/api/v1/card?number=5500000000000004")
        self.service.raw("GET", "/tarvik?cc=5500000000000004")
        time.sleep(0.2)
        log = self.service.logged()
        self.assertIn("/api/v1/card?number=*", log)
        self.assertIn("/tarvik?cc=*", log)
        self.assertNotIn("5500000000000004", log)

    def test_status_and_document(self):
        status, _, answer = self.service.ask("GET", "/api/v1/status")
        self.assertEqual(status, 200)
        self.assertGreater(answer["bank_directory"]["bank_codes"], 3000)
        names = re.findall(r'"([^"]+)":', json.dumps(answer))
        self.assertEqual([n for n in names if not re.fullmatch(r"[a-z0-9_]+", n)], [])
        self.assertNotIn("path", names)
        status, _, document = self.service.ask("GET", "/api/v1/openapi.json")
        self.assertEqual((status, document), (200, OPENAPI))


class LoginTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.service = Service("--users-file", USERS)

    @classmethod
    def tearDownClass(cls):
        cls.service.stop()

    def test_with_a_users_file_every_check_needs_a_login_from_this_machine_too(self):
        # label, path, headers, status, challenged
        cases = [
            ("no login", "/api/v1/iban/" + IBAN, {}, 401, True),
            ("no login, from a page's script", "/api/v1/iban/" + IBAN, {"X-Requested-With": "XMLHttpRequest"}, 401,
             False),
            ("wrong password", "/api/v1/bic/COBADEFFXXX", basic("demo", "falsch"), 401, True),
            ("not Basic", "/api/v1/bic/COBADEFFXXX", {"Authorization": "Bearer demo"}, 401, True),
            ("login", "/api/v1/iban/" + IBAN, basic("demo", "wexo"), 200, False),
            ("status without login", "/api/v1/status", {}, 200, False),
            ("document without login", "/api/v1/openapi.json", {}, 200, False),
        ]
        for label, path, headers, status, challenged in cases:
            with self.subTest(label):
                got, answer_headers, _ = self.service.ask("GET", path, headers=headers)
                self.assertEqual(got, status)
                self.assertEqual("www-authenticate" in answer_headers, challenged)


class ThrottleTest(unittest.TestCase):
    def test_a_lock_out_is_429_with_retry_after_even_for_the_right_password(self):
        service = Service("--users-file", USERS)
        try:
            # The fifth failure in a row locks the name out.
            for _ in range(4):
                status, _, _ = service.ask("GET", "/api/v1/bic/COBADEFFXXX", headers=basic("demo", "rate"))
                self.assertEqual(status, 401)
            for password in ("rate", "wexo"):
                status, headers, problem = service.ask("GET", "/api/v1/bic/COBADEFFXXX", headers=basic("demo", password))
                self.assertEqual((status, problem["type"]), (429, "/api/v1/problems/throttled"))
                self.assertGreater(int(headers["retry-after"]), 0)
        finally:
            service.stop()


class OpenApiDocumentTest(unittest.TestCase):
    def test_a_real_validator_accepts_the_document(self):
        done = subprocess.run([VALIDATOR, DOCUMENT], capture_output=True, text=True, timeout=60)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        self.assertTrue(json.loads(done.stdout)["valid"])


if __name__ == "__main__":
    unittest.main()
