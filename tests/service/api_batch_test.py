"""POST /api/v1/batch: CSV or NDJSON in, NDJSON or CSV out, one answer per row in input order with the line where the
row starts; bodies far beyond the body limit; logins; a client that stops reading and a body that stalls."""

import base64
import csv
import io
import json
import os
import socket
import time
import unittest

import apiservice
from apiservice import USERS, call

IBAN = "DE89370400440532013000"


class Service(apiservice.Service):
    def batch(self, body, content_type="text/csv", accept=None, headers=None, method="POST"):
        return call(self.url("/api/v1/batch"), body, method, dict({"Content-Type": content_type},
                                                                  **({"Accept": accept} if accept else {}),
                                                                  **(headers or {})))


def lines(body):
    return [json.loads(line) for line in body.decode().splitlines()]


class ApiBatchTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.service = Service("--max-body", "4096", "--timeout", "3")
        cls.addClassCleanup(cls.service.stop)

    def test_rows_are_answered_in_order_with_the_line_they_start_on(self):
        body = ("kunde,iban,blz,kto,bic,card,vat,plz,ort\r\n"
                "a,%s,,,,,,,\r\n"
                "\"b\nzwei Zeilen\",DE00370400440532013000,,,,,,,\r\n"
                "c,,37040044,532013000,,,,,\r\n"
                "d,,,,COBADEFFXXX,,,,\r\n"
                "e,,,,,4111111111111111,,,\r\n"
                "f,,,,,,ATU13585627,,\r\n"
                "g,,,,,,,10117,Berlin\r\n"
                "\"h\"x,,,,,,,,\r\n"
                "i,,,,,,,,\r\n"
                "j,%s,,,,,,10117,Berlin\r\n" % (IBAN, IBAN)).encode()
        status, headers, answer = self.service.batch(body)
        self.assertEqual(status, 200, answer)
        self.assertEqual(headers["Content-Type"], "application/x-ndjson; charset=utf-8")
        self.assertEqual(headers["Transfer-Encoding"], "chunked")
        rows = lines(answer)
        cases = [
            # line, checks with their validity, error
            (2, [("iban", True)], None),
            (3, [("iban", False)], None),
            (5, [("account", True)], None),
            (6, [("bic", True)], None),
            (7, [("card", True)], None),
            (8, [("vat", True)], None),
            (9, [("address", True)], None),
            (10, [], "Text nach dem schließenden Anführungszeichen"),
            (11, [], "nichts zu prüfen"),
            (12, [("iban", True), ("address", True)], None),
        ]
        self.assertEqual(len(rows), len(cases), rows)
        for row in rows:
            self.service.holds(row, "BatchRow")
        for row, (line, checks, error) in zip(rows, cases):
            with self.subTest(line=line):
                self.assertEqual(row["line"], line)
                self.assertEqual([(check["check"], check["valid"]) for check in row["checks"]], checks, row)
                self.assertEqual(row.get("error"), error)
                for check in row["checks"]:
                    self.assertIsInstance(check["result"], int)
                    self.assertTrue(check["result_text"])
        self.assertEqual(rows[0]["checks"][0]["bank"]["bic"], "COBADEFFXXX")

    def test_ndjson_in_and_csv_out(self):
        body = ('{"iban": "%s"}\n'
                '\n'
                '[1, 2]\n'
                '{"blz": 37040044, "kto": "532013000"}\n'
                '{"iban": ["x"]}\n'
                '{"note": "nothing"}\n' % IBAN).encode()
        status, _, answer = self.service.batch(body, "application/x-ndjson")
        self.assertEqual(status, 200, answer)
        self.assertEqual([(row["line"], [c["check"] for c in row["checks"]], row.get("error")) for row in lines(answer)],
                         [(1, ["iban"], None), (3, [], "kein JSON-Objekt"), (4, ["account"], None),
                          (5, [], 'das Feld "iban" erwartet Text'), (6, [], "nichts zu prüfen")])
        status, headers, answer = self.service.batch(b"kunde;iban\n=1+1;" + IBAN.encode() + b"\n;x\n",
                                                     accept="text/csv")
        self.assertEqual(status, 200, answer)
        self.assertEqual(headers["Content-Type"], "text/csv; charset=utf-8")
        table = list(csv.reader(io.StringIO(answer.decode()), delimiter=";"))
        self.assertEqual(table[0][:5], ["line", "kunde", "iban", "result", "result_text"])
        self.assertEqual(table[0][-1], "error")
        self.assertEqual(table[1][:4], ["2", "'=1+1", IBAN, "0"])
        self.assertEqual(table[2][0], "3")
        self.assertEqual(len(table), 3)

    def test_what_cannot_be_served_is_a_problem_before_the_body_is_read(self):
        cases = [
            # label, content type, accept, method, status, problem type
            ("plain text", "text/plain", None, "POST", 415, "unsupported-media-type"),
            ("XML wanted", "text/csv", "application/xml", "POST", 406, "not-acceptable"),
            ("GET", "text/csv", None, "GET", 405, "method-not-allowed"),
        ]
        for label, content_type, accept, method, status, cause in cases:
            with self.subTest(label):
                got, headers, answer = self.service.batch(b"iban\n" if method == "POST" else None, content_type,
                                                          accept, method=method)
                self.assertEqual(got, status, answer)
                self.assertEqual(headers["Content-Type"], "application/problem+json; charset=utf-8")
                self.assertEqual(json.loads(answer)["type"], "/api/v1/problems/" + cause)
        status, _, answer = self.service.batch(b"")
        self.assertEqual((status, json.loads(answer)["type"]), (400, "/api/v1/problems/bad-input"))

    def test_a_batch_far_beyond_the_body_limit_is_answered_whole_in_order(self):
        rows = 20000  # about 500 KiB against a body limit of 4 KiB
        body = ("n,iban\n" + "".join("%d,%s\n" % (n, IBAN if n % 3 else "DE00" + IBAN[4:]) for n in range(rows)))
        status, _, answer = self.service.batch(body.encode())
        self.assertEqual(status, 200, answer[:300])
        got = lines(answer)
        self.assertEqual([row["line"] for row in got], list(range(2, rows + 2)))
        self.assertEqual([row["checks"][0]["valid"] for row in got], [n % 3 != 0 for n in range(rows)])

    def test_a_client_that_stops_reading_is_dropped_and_the_service_goes_on(self):
        body = ("iban\n" + (IBAN + "\n") * 100000).encode()
        status, _, whole = self.service.batch(body)
        self.assertEqual(status, 200)
        with socket.socket() as stuck:
            stuck.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
            stuck.settimeout(30)
            stuck.connect(("127.0.0.1", self.service.port))
            stuck.sendall(b"POST /api/v1/batch HTTP/1.1\r\nHost: x\r\nContent-Type: text/csv\r\n"
                          b"Content-Length: %d\r\n\r\n" % len(body) + body)
            time.sleep(1)
            # Meanwhile others are served.
            self.assertEqual(self.service.batch(b"iban\n" + IBAN.encode() + b"\n")[0], 200)
            # The answer begins once the whole body has been checked; from then on nothing more is read.
            received = len(stuck.recv(1))
            time.sleep(8)  # well beyond --timeout without reading
            try:
                while True:
                    data = stuck.recv(1 << 16)
                    if not data:
                        break
                    received += len(data)
            except ConnectionResetError:
                pass
            self.assertLess(received, len(whole), "the connection was ended before the whole answer")
        self.assertEqual(self.service.batch(b"iban\n" + IBAN.encode() + b"\n")[0], 200)

    def test_a_body_that_stalls_is_ended(self):
        with socket.create_connection(("127.0.0.1", self.service.port), timeout=30) as slow:
            slow.sendall(b"POST /api/v1/batch HTTP/1.1\r\nHost: x\r\nContent-Type: text/csv\r\n"
                         b"Content-Length: 1000000\r\n\r\niban\n" + IBAN.encode() + b"\n")
            began = time.monotonic()
            answer = b""
            while True:
                data = slow.recv(4096)
                if not data:
                    break
                answer += data
        # The sweeper's 408, unless the library's idle time-out of the same length closed the connection first.
        self.assertTrue(answer == b"" or answer.startswith(b"HTTP/1.1 408"), answer[:200])
        self.assertLess(time.monotonic() - began, 20)


class ApiBatchLoginTest(unittest.TestCase):
    def test_with_a_users_file_this_machine_logs_in_too(self):
        service = Service("--users-file", USERS)
        self.addCleanup(service.stop)
        body = b"iban\n" + IBAN.encode() + b"\n"
        for label, password, status in [("none", None, 401), ("wrong", b"wrong", 401), ("right", b"wexo", 200)]:
            with self.subTest(label):
                headers = {"Authorization": "Basic " + base64.b64encode(b"demo:" + password).decode()} \
                    if password else {}
                got, answer_headers, answer = service.batch(body, headers=headers)
                self.assertEqual(got, status, answer)
                if status == 401:
                    self.assertEqual(answer_headers["WWW-Authenticate"], 'Basic realm="OrvelWddx", charset="UTF-8"')


if __name__ == "__main__":
    unittest.main()
