"""The service's HTTP side over raw sockets: requests whose framing is ambiguous or that cannot be served get one
answer and the connection ends; the request log and the SOAP replies stay well-formed whatever bytes a client or a
bank file brings; a request head may not take longer than the time-out, however often it sends a line."""

import json
import os
import shutil
import socket
import subprocess
import tempfile
import threading
import time
import unittest
import xml.etree.ElementTree as ElementTree

SERVICE = os.environ["ORVELWDDX_SERVICE"]
DEBIAN_BANKS = "/usr/share/ktoblzcheck/blz_20200420.txt"
SOAP_ENV = "{http://schemas.xmlsoap.org/soap/envelope/}"


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def envelope(operation, namespace, **inputs):
    fields = "".join("<%s>%s</%s>" % (name, value, name) for name, value in inputs.items())
    return ('<?xml version="1.0"?><soap:Envelope xmlns:soap="http://schemas.xmlsoap.org/soap/envelope/"><soap:Body>'
            '<%s xmlns="%s">%s</%s></soap:Body></soap:Envelope>' % (operation, namespace, fields, operation)).encode()


TEST_IBAN = envelope("TestIban", "urn:TarvikIntf-ITarvik", UN="demo", PW="wexo", IbanIn="DE89370400440532013000")


def post(path, body, headers=b"Content-Type: text/xml\r\n"):
    return (b"POST " + path + b" HTTP/1.1\r\nHost: x\r\nConnection: close\r\n" + headers +
            b"Content-Length: %d\r\n\r\n" % len(body) + body)


def split(answer):
    """Status line, headers (lower-case names), body and whatever follows the body of the first response."""
    head, _, rest = answer.partition(b"\r\n\r\n")
    lines = head.split(b"\r\n")
    headers = dict((name.lower(), value) for name, _, value in (line.partition(b": ") for line in lines[1:]))
    length = int(headers.get(b"content-length", b"0"))
    return lines[0], headers, rest[:length], rest[length:]


class RawHttpTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="orvel-http-")
        # The Commerzbank's name with an ESC in it, as a broken bank file could bring it.
        with open(DEBIAN_BANKS, "rb") as original:
            banks = original.read().replace(b"370400441Commerzbank", b"370400441Commerz\x1bank")
        cls.banks = os.path.join(cls.dir, "blz.txt")
        with open(cls.banks, "wb") as fixture:
            fixture.write(banks)
        cls.port = free_port()
        cls.log_path = os.path.join(cls.dir, "service.log")
        cls.log = open(cls.log_path, "wb")
        cls.service = subprocess.Popen([SERVICE, "--listen", "127.0.0.1:%d" % cls.port, "--bank-file", cls.banks,
                                        "--log"], stderr=cls.log)
        for _ in range(100):
            with socket.socket() as probe:
                if probe.connect_ex(("127.0.0.1", cls.port)) == 0:
                    break
            time.sleep(0.05)

    @classmethod
    def tearDownClass(cls):
        cls.service.terminate()
        cls.service.wait()
        cls.log.close()
        shutil.rmtree(cls.dir, True)

    def exchange(self, raw, wait=5):
        """What comes back for raw bytes, and whether the service closed the connection within wait seconds."""
        answer = b""
        with socket.create_connection(("127.0.0.1", self.port), timeout=wait) as client:
            try:
                client.sendall(raw)
                while True:
                    chunk = client.recv(65536)
                    if not chunk:
                        return answer, True
                    answer += chunk
            except ConnectionResetError:
                return answer, True
            except socket.timeout:
                return answer, False

    def test_refused_requests_get_one_answer_and_the_connection_ends(self):
        smuggled = b"GET /nothere HTTP/1.1\r\nHost: x\r\n\r\n"
        soap_head = b"POST /soap/ITarvik HTTP/1.1\r\nHost: x\r\nContent-Type: text/xml\r\n"
        arguments = lambda count: b"&".join(b"a%d=1" % i for i in range(count))
        vies = b"/taxation_customs/vies/services/checkVatService"
        # The refused ones keep the connection alive as far as the client is concerned: the service ends it.
        cases = [
            ("Content-Length and chunked", soap_head + b"Content-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n"
             b"0\r\n\r\n" + smuggled, b"HTTP/1.1 400"),
            ("two different lengths", soap_head + b"Content-Length: 4\r\nContent-Length: 40\r\n\r\n<x/>" + smuggled,
             b"HTTP/1.1 400"),
            ("two codings", soap_head + b"Transfer-Encoding: chunked\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n",
             b"HTTP/1.1 400"),
            ("a blank before a colon", soap_head + b"Transfer-Encoding : chunked\r\nContent-Length: 5\r\n\r\n"
             b"0\r\n\r\n" + smuggled, b"HTTP/1.1 400"),
            ("a folded Transfer-Encoding", soap_head + b"Content-Length: 5\r\nTransfer-Encoding:\r\n chunked\r\n\r\n"
             b"0\r\n\r\n" + smuggled, b"HTTP/1.1 400"),
            ("a tab before a colon", b"GET /tarvik?cc=1 HTTP/1.1\r\nHost: x\r\nX-A\t: 1\r\n\r\n", b"HTTP/1.1 400"),
            ("unknown coding", soap_head + b"Transfer-Encoding: xchunked\r\n\r\n4\r\n<x/>\r\n0\r\n\r\n",
             b"HTTP/1.1 501"),
            ("coding list", soap_head + b"Transfer-Encoding: gzip, chunked\r\n\r\n0\r\n\r\n", b"HTTP/1.1 501"),
            ("no Host", b"GET /tarvik?cc=1 HTTP/1.1\r\n\r\n", b"HTTP/1.1 400"),
            ("blank in the target", b"GET /tarvik?cc=1 2 HTTP/1.1\r\nHost: x\r\n\r\n", b"HTTP/1.1 400"),
            ("465 query arguments", b"GET /tarvik?" + arguments(465) + b" HTTP/1.1\r\nHost: x\r\n\r\n",
             b"HTTP/1.1 414"),
            ("4,000 empty query arguments", b"GET /tarvik?" + b"&" * 4000 + b" HTTP/1.1\r\nHost: x\r\n\r\n",
             b"HTTP/1.1 414"),
            ("600 header lines", b"GET /tarvik?cc=1 HTTP/1.1\r\nHost: x\r\n" +
             b"".join(b"X-%d: %s\r\n" % (i, b"v" * 60) for i in range(600)) + b"\r\n", b"HTTP/1.1 431"),
            ("DELETE", b"DELETE /tarvik HTTP/1.1\r\nHost: x\r\n\r\n", b"HTTP/1.1 405"),
            ("PUT with a body", b"PUT /soap/ITarvik HTTP/1.1\r\nHost: x\r\nContent-Length: 4\r\n\r\n<x/>",
             b"HTTP/1.1 405"),
            ("SOAP as JSON", post(b"/soap/ITarvik", TEST_IBAN, b"Content-Type: application/json\r\n"),
             b"HTTP/1.1 415"),
            ("SOAP without a type", post(b"/soap/IAddress3", TEST_IBAN, b""), b"HTTP/1.1 415"),
            ("VIES as text", post(vies, b"<x/>", b"Content-Type: text/plain\r\n"), b"HTTP/1.1 415"),
            # What is served, for contrast (these ask for the connection to end).
            ("99 query arguments", b"GET /tarvik?" + arguments(99) + b" HTTP/1.1\r\nHost: x\r\nConnection: close"
             b"\r\n\r\n", b"HTTP/1.1 200"),
            ("SOAP 1.2 type", post(b"/soap/ITarvik", TEST_IBAN, b"Content-Type: application/soap+xml; charset=utf-8"
                                   b"\r\n"), b"HTTP/1.1 200"),
            ("HTTP/1.0 without Host", b"GET /tarvik?cc=1 HTTP/1.0\r\n\r\n", b"HTTP/1.1 200"),
        ]
        for label, request, status in cases:
            with self.subTest(label):
                answer, closed = self.exchange(request)
                line, headers, body, rest = split(answer)
                self.assertTrue(line.startswith(status), answer[:300])
                self.assertEqual(rest, b"", "a second answer or a doubled header block follows")
                self.assertTrue(closed, "the connection stays open")
                if status == b"HTTP/1.1 405":
                    self.assertEqual(headers.get(b"allow"), b"GET, HEAD, POST")

    def test_log_lines_show_control_bytes_and_broken_utf8_as_escapes(self):
        cases = [
            ("a%0D%0AGET%20/forged%20200%201us", r"a\r\nGET /forged 200 1us"),
            ("%1B%5B2J%1B]0;title%07", r"\x1b[2J\x1b]0;title\x07"),
            ("tab%09del%7F", r"tab\tdel\x7f"),
            ("M%C3%BCller%FF%C3", r"Müller\xff\xc3"),
            ("back%5Cslash", r"back\\slash"),
            ("C1%C2%9B2J%C2%85", r"C1\xc2\x9b2J\xc2\x85"),
        ]
        for value, shown in cases:
            with self.subTest(shown):
                answer, _ = self.exchange(b"GET /tarvik?search=%s HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n"
                                          % value.encode())
                self.assertTrue(answer.startswith(b"HTTP/1.1 200"), answer[:200])
        self.exchange(b"GET /nothere%0D%0A%1B HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
        self.exchange(b"GET /tarvik?un=a&pw=%0Dsecret HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
        self.log.flush()
        time.sleep(0.2)
        with open(self.log_path, "rb") as log:
            text = log.read().decode("utf-8")
        for value, shown in cases:
            self.assertIn("GET /tarvik?search=%s 200 " % shown, text)
        self.assertIn(r"GET /nothere\r\n\x1b 404 ", text)
        self.assertIn("GET /tarvik?un=a&pw=* 200 ", text)
        self.assertNotIn("secret", text)
        self.assertFalse([line for line in text.splitlines() if line.startswith("GET /forged")])
        self.assertFalse([c for c in text if ord(c) < 0x20 and c != "\n"], "raw control characters in the log")

    def test_errors_on_json_paths_are_problem_answers(self):
        def evatr(body, method=b"POST"):
            return (method + b" /app/v1/abfrage HTTP/1.1\r\nHost: x\r\nConnection: close\r\n"
                    b"Content-Type: application/json\r\nContent-Length: %d\r\n\r\n" % len(body) + body)
        cases = [
            ("a key named twice", evatr(b'{"anfragendeUstid":"DE136695976","angefragteUstid":"ATU13585627",'
                                        b'"angefragteUstid":"DE136695976"}'), 400),
            ("PUT", evatr(b"{}", b"PUT"), 405),
            ("a body over the limit", b"POST /app/v1/abfrage HTTP/1.1\r\nHost: x\r\nContent-Length: 70000\r\n\r\n",
             413),
            ("an unknown path", b"GET /app/v1/nothere HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", 404),
            ("the status by DELETE", b"DELETE /status HTTP/1.1\r\nHost: x\r\n\r\n", 405),
        ]
        for label, request, status in cases:
            with self.subTest(label):
                answer, _ = self.exchange(request)
                line, headers, body, _ = split(answer)
                self.assertTrue(line.startswith(b"HTTP/1.1 %d" % status), answer[:300])
                self.assertTrue(headers.get(b"content-type", b"").startswith(b"application/problem+json"), answer)
                problem = json.loads(body)
                self.assertEqual(problem["status"], status)
                self.assertTrue(problem["title"])
        # The same key in two objects is no duplicate: the request is answered in the API's own form.
        answer, _ = self.exchange(evatr(b'{"anfragendeUstid":"DE136695976","angefragteUstid":"ATU13585627",'
                                        b'"x":{"angefragteUstid":"DE136695976"}}'))
        self.assertIn(b'"status":"evatr-', answer)

    def test_refused_and_cut_off_connections_write_no_line_each(self):
        """100 connections from one address (64 are allowed), each sending half a head and closing: the log gets
        neither a line per refusal nor one per request cut off; they are summed up once a minute."""
        flood = []
        for _ in range(100):
            client = socket.socket()
            client.bind(("127.0.0.9", 0))
            client.connect(("127.0.0.1", self.port))
            client.sendall(b"GET /tarvik?cc=1 HTTP/1.1\r\n")
            flood.append(client)
        time.sleep(0.3)
        for client in flood:
            client.close()
        time.sleep(0.5)
        self.log.flush()
        with open(self.log_path, "rb") as log:
            text = log.read().decode("utf-8")
        self.assertNotIn("connection limit", text)
        self.assertNotIn("incomplete request", text)
        self.assertNotIn("closed when reading", text)

    def test_soap_replies_stay_well_formed(self):
        cases = [
            ("SOAPAction with control bytes and broken UTF-8",
             post(b"/soap/ITarvik", TEST_IBAN, b"Content-Type: text/xml\r\nSOAPAction: \"\x01\x1b[2J\xff\xfe\"\r\n"),
             b"HTTP/1.1 500", "faultstring", "SOAPAction passt nicht zur Operation: ??[2J??"),
            ("bank name with an ESC from the bank file", post(b"/soap/ITarvik", TEST_IBAN), b"HTTP/1.1 200",
             "BankName", "Commerz?ank"),
        ]
        for label, request, status, element, text in cases:
            with self.subTest(label):
                answer, _ = self.exchange(request)
                line, _, body, _ = split(answer)
                self.assertTrue(line.startswith(status), answer[:300])
                document = ElementTree.fromstring(body)
                self.assertEqual(document.find(".//" + element).text, text)

    def test_wddx_and_soap_show_the_same_bank_name(self):
        answer, _ = self.exchange(b"GET /tarvik?iban=DE89370400440532013000 HTTP/1.1\r\nHost: x\r\nConnection: close"
                                  b"\r\n\r\n")
        self.assertIn(b"<var name='bankname'><string>Commerz?ank</string>", answer)

    def test_a_request_head_must_be_complete_within_the_time_out(self):
        """A header line every second for 15 s: the service ends the connection after about 10 s (its time-out),
        for the first request of a connection and for one after an answered request alike."""
        def drip(first, results):
            with socket.create_connection(("127.0.0.1", self.port), timeout=20) as client:
                if first:
                    client.sendall(first)
                    received = b""
                    while b"</wddxPacket>" not in received:
                        received += client.recv(65536)
                start = time.monotonic()
                client.sendall(b"GET /tarvik?cc=1 HTTP/1.1\r\nHost: x\r\n")
                client.settimeout(0.01)
                while time.monotonic() - start < 15:
                    try:
                        client.sendall(b"X-Slow: 1\r\n")
                        if client.recv(65536) == b"":
                            break
                    except socket.timeout:
                        pass
                    except OSError:
                        break
                    time.sleep(1)
                results[first] = time.monotonic() - start

        results = {}
        clients = [threading.Thread(target=drip, args=(first, results))
                   for first in (b"", b"GET /tarvik?cc=1 HTTP/1.1\r\nHost: x\r\n\r\n")]
        for client in clients:
            client.start()
        for client in clients:
            client.join()
        for first, seconds in results.items():
            with self.subTest(after_an_answer=bool(first)):
                self.assertGreaterEqual(seconds, 9)
                self.assertLess(seconds, 13)


if __name__ == "__main__":
    unittest.main()
