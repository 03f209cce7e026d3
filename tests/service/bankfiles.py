"""Bundesbank files, SCL and OeNB directories written from their published formats, and a loopback stand-in for the
download addresses."""

import contextlib
import http.server
import os
import re
import subprocess
import threading
import time
import urllib.request

BUILT_IN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../src/rules/data/bankleitzahlen.tsv")


def record(blz, name, method, bic="", flag="1"):
    def padded(text, width):
        return text[:width].ljust(width)
    return (padded(blz, 8) + flag + padded(name, 58) + "10100" + padded("Berlin", 35) + padded(name, 27) + "12345" +
            padded(bic, 11) + padded(method, 2) + "000001" + "U" + "0" + "00000000")


def write(path, records):
    with open(path, "wb") as out:
        out.write(bundesbank_bytes(records))
    return path


def bundesbank_bytes(records, encoding="latin-1"):
    return "".join(r + "\r\n" for r in records).encode(encoding)


def built_in_records(renamed=None):
    """A record per bank code of the built-in data in force, so that an edition made of them drops nothing;
    renamed maps bank codes to other names."""
    renamed = renamed or {}
    seen, records = set(), []
    with open(BUILT_IN, encoding="utf-8") as rows:
        for row in rows:
            fields = row.rstrip("\n").split("\t")
            if row.startswith("#") or len(fields) < 6 or fields[2] or fields[0] in seen:
                continue
            seen.add(fields[0])
            records.append(record(fields[0], renamed.get(fields[0], fields[3]), fields[5] or "09", fields[4]))
    return records


class StandIn:
    """Serves path -> (status, headers, body) on 127.0.0.1; a body that is a callable writes the answer itself.
    Counts the requests per path and answers If-None-Match with 304 when the ETag is the same."""

    def __init__(self):
        self.routes, self.hits = {}, {}
        stand_in = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def log_message(self, *args):
                pass

            def do_GET(self):
                stand_in.hits[self.path] = stand_in.hits.get(self.path, 0) + 1
                status, headers, body = stand_in.routes.get(self.path, (404, {}, b"not here"))
                if callable(body):
                    body(self)
                    return
                if status == 200 and "ETag" in headers and self.headers.get("If-None-Match") == headers["ETag"]:
                    status, body = 304, b""
                self.send_response(status)
                for name, value in headers.items():
                    self.send_header(name, value)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.server.daemon_threads = True
        # A client that gives up halfway (a size cap, a stall) is what some tests want.
        self.server.handle_error = lambda request, address: None
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        self.base = "http://127.0.0.1:%d" % self.server.server_address[1]

    def close(self):
        self.server.shutdown()
        self.server.server_close()

    def serve(self, path, body, status=200, **headers):
        self.routes[path] = (status, headers, body)
        return self.base + path


def stall(handler, seconds=5):
    """Headers and a little of the body, then nothing for a while."""
    handler.send_response(200)
    handler.send_header("Content-Length", "100000")
    handler.end_headers()
    handler.wfile.write(b"1" * 100)
    handler.wfile.flush()
    time.sleep(seconds)


BLOB = "/resource/blob/602632/%s/mL/blz-aktuell-txt-data.txt"


def bundesbank_page(link_hash, valid_from, valid_until, site=""):
    """The download page as the Bundesbank writes it: site-relative links, validity in words."""
    return ("<html><body><h2>Bankleitzahlendateien</h2><p>Die Bankleitzahlendatei ist&nbsp;g&uuml;ltig vom "
            "<strong>%s</strong> bis %s.</p><ul><li><a href=\"%s/resource/blob/602632/%s/mL/"
            "blz-aktuell-csv-data.csv\">CSV</a></li><li><a href=\"%s%s\">TXT</a></li></ul></body></html>"
            % (valid_from.strftime("%d.%m.%Y"), valid_until.strftime("%d.%m.%Y"), site, link_hash, site,
               BLOB % link_hash)).encode("utf-8")


def _letters(number, width=4):
    text = ""
    for _ in range(width):
        number, digit = divmod(number, 26)
        text = chr(ord("A") + digit) + text
    return text


def scl_rows(count, extra=()):
    """count SCL rows of made-up BICs in France (every service but B2B on odd ones), then extra rows."""
    rows = ["%sFRPPXXX;Banque %d;1;1;0;%d;1" % (_letters(i), i, i % 2) for i in range(count)]
    return rows + list(extra)


def scl_bytes(valid_from, rows):
    head = ["Gueltig ab / valid from %s;;;;;;" % valid_from.strftime("%d.%m.%Y"),
            "BIC;Name;SERVICE SCT;SERVICE COR;SERVICE COR1;SERVICE B2B;SERVICE SCC"]
    return "".join(line + "\r\n" for line in head + rows).encode("ascii")


def oenb_rows(count, extra=()):
    """count head offices with codes from 10000 on, then extra (kind, code, name, place, BIC) rows."""
    banks = [("Hauptanstalt", str(10000 + 7 * i), "Testbank %d AG" % i, "Wien", "%sATWWXXX" % _letters(i))
             for i in range(count)] + list(extra)
    return ["%s;1;%s;Aktienbank;S;FN 1;%s;Gasse 1;1010;%s;;;;;Wien;;;;%s;;01.01.1900;" % bank for bank in banks]


def oenb_bytes(day, rows, encoding="latin-1"):
    head = ["Dieses Verzeichnis wird von der OeNB veröffentlicht;;;", "Alle Angaben ohne Gewähr;;;",
            "Stand siehe unten;;;", "", "SEPA-Verzeichnis-Abfrage vom %s;;;" % day.strftime("%d.%m.%Y"),
            "Kennzeichen;Identnummer;Bankleitzahl;Institutsart;Sektor;Firmenbuchnummer;Bankenname;Straße;PLZ;Ort;"
            "Postadresse / Straße;Postadresse / PLZ;Postadresse / Ort;Postfach;Bundesland;Telefon;Fax;E-Mail;"
            "SWIFT-Code;Homepage;Gründungsdatum;LEI"]
    return "".join(line + "\r\n" for line in head + rows).encode(encoding)


def start_service(test, program, env, *options):
    """The service on a free loopback port, stopped when the test ends; returns the port and the process."""
    service = subprocess.Popen([program, "--listen", "127.0.0.1:0", *options], env=env, stderr=subprocess.PIPE,
                               text=True)
    test.addCleanup(service.wait, 10)
    test.addCleanup(service.terminate)
    for line in service.stderr:
        served = re.search(r"serving http 127\.0\.0\.1:0 \(port (\d+)\)", line)
        if served:
            return int(served.group(1)), service
    test.fail("the service did not start")


def bank_name(port, blz="10012345"):
    """The bank name the service's WDDX account check answers for blz."""
    with urllib.request.urlopen("http://127.0.0.1:%d/tarvik?un=&pw=&blz=%s&kto=0123456789" % (port, blz),
                                timeout=10) as reply:
        answer = reply.read().decode("latin-1")
    return re.search(r"<var name='bankname'><string>([^<]*)</string>", answer).group(1)


@contextlib.contextmanager
def asking_all_along(port, clients=3):
    """Clients ask for a bank name one request after the other until the block ends; yields the names seen and the
    failures, of every kind."""
    seen, failures, stop = set(), [], threading.Event()

    def ask():
        while not stop.is_set():
            try:
                seen.add(bank_name(port))
            except Exception as error:  # every kind of failure counts
                failures.append(repr(error))

    workers = [threading.Thread(target=ask) for _ in range(clients)]
    for worker in workers:
        worker.start()
    try:
        yield seen, failures
    finally:
        stop.set()
        for worker in workers:
            worker.join()
