#!/usr/bin/env python3
"""10,000 qualified confirmations in one `orvelwddx-check batch` against a loopback stand-in that behaves like VIES.

The stand-in answers checkVatApprox as VIES does, after 150 ms; it takes at most 4 requests at once per member state
and answers the fault MS_MAX_CONCURRENT_REQ at once beyond that, and 2 % of its answers are transient faults
(MS_UNAVAILABLE, TIMEOUT, SERVICE_UNAVAILABLE). The ids come from a mix of member states as a German seller's
customers might: Austria the largest share. The ideal is the largest country's ids / 4 x 150 ms; printed are the
time, the ratio to the ideal (aim: at most 1.3), the refused and faulted requests, and whether every row came back
in order, confirmed, and journaled once.
Usage: bench/vies_batch.py [CHECK_BINARY] [IDS]   (after a build; IDS defaults to 10000)
"""
import collections
import csv
import http.server
import os
import random
import re
import socketserver
import sqlite3
import subprocess
import sys
import tempfile
import threading
import time

check = sys.argv[1] if len(sys.argv) > 1 else "build/src/cli/orvelwddx-check"
IDS = int(sys.argv[2]) if len(sys.argv) > 2 else 10000
ANSWER_SECONDS = 0.150
PER_STATE = 4
FAULT_SHARE = 0.02
MIX = {"AT": 18, "FR": 14, "NL": 13, "IT": 11, "PL": 9, "BE": 7, "ES": 7, "CZ": 5, "DK": 3, "SE": 3, "HU": 2,
       "IE": 2, "PT": 1.5, "RO": 1.5, "SK": 1, "SI": 0.8, "LU": 0.7, "FI": 0.5}
TYPES = "urn:ec.europa.eu:taxud:vies:services:checkVat:types"
ENVELOPE = ('<?xml version="1.0" encoding="UTF-8"?><env:Envelope xmlns:env="http://schemas.xmlsoap.org/soap/envelope/">'
            "<env:Header/><env:Body>%s</env:Body></env:Envelope>")


class StandIn:
    def __init__(self):
        self.lock = threading.Lock()
        self.busy = collections.Counter()
        self.most = collections.Counter()
        self.refused = 0
        self.faults = 0
        self.answers = 0
        self.random = random.Random(7)

    def enter(self, country):
        with self.lock:
            if self.busy[country] >= PER_STATE:
                self.refused += 1
                return False
            self.busy[country] += 1
            self.most[country] = max(self.most[country], self.busy[country])
            return True

    def leave(self, country):
        with self.lock:
            self.busy[country] -= 1
            fault = self.random.random() < FAULT_SHARE
            if fault:
                self.faults += 1
            else:
                self.answers += 1
            return fault


def field(body, name):
    found = re.search(r"<(?:\w+:)?%s>([^<]*)</" % name, body)
    return found.group(1) if found else ""


def handler_for(stand_in):
    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, *args):
            pass

        def reply(self, status, body):
            data = (ENVELOPE % body).encode()
            self.send_response(status)
            self.send_header("Content-Type", "text/xml; charset=utf-8")
            self.send_header("Content-Length", str(len(data)))
            self.send_header("Connection", "close")
            self.end_headers()
            self.wfile.write(data)

        def fault(self, text):
            self.reply(500, "<env:Fault><faultcode>env:Server</faultcode><faultstring>%s</faultstring></env:Fault>"
                       % text)

        def do_POST(self):
            body = self.rfile.read(int(self.headers.get("Content-Length", "0"))).decode()
            country, number = field(body, "countryCode"), field(body, "vatNumber")
            if not stand_in.enter(country):
                self.fault("MS_MAX_CONCURRENT_REQ")
                return
            time.sleep(ANSWER_SECONDS)
            if stand_in.leave(country):
                self.fault(random.choice(["MS_UNAVAILABLE", "TIMEOUT", "SERVICE_UNAVAILABLE"]))
                return
            matches = "".join("<ns2:%s>1</ns2:%s>" % (m, m) for m in ("traderNameMatch", "traderCityMatch"))
            self.reply(200, '<ns2:checkVatApproxResponse xmlns:ns2="%s"><ns2:countryCode>%s</ns2:countryCode>'
                       "<ns2:vatNumber>%s</ns2:vatNumber><ns2:requestDate>2026-12-11+01:00</ns2:requestDate>"
                       "<ns2:valid>true</ns2:valid><ns2:traderName>%s</ns2:traderName>%s"
                       "<ns2:requestIdentifier>WAPI%s</ns2:requestIdentifier></ns2:checkVatApproxResponse>"
                       % (TYPES, country, number, field(body, "traderName"), matches, number))

    return Handler


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    request_queue_size = 256


def main():
    rows = random.Random(11)
    countries = list(MIX)
    ids = ["%s%09d" % (rows.choices(countries, weights=[MIX[c] for c in countries])[0], n) for n in range(IDS)]
    per_country = collections.Counter(i[:2] for i in ids)
    largest, largest_ids = per_country.most_common(1)[0]
    ideal = largest_ids / PER_STATE * ANSWER_SECONDS

    stand_in = StandIn()
    server = Server(("127.0.0.1", 0), handler_for(stand_in))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    with tempfile.TemporaryDirectory() as folder:
        table = os.path.join(folder, "ids.csv")
        with open(table, "w", newline="") as out:
            writer = csv.writer(out)
            writer.writerow(["vat", "own_vat", "name", "city"])
            for n, vat in enumerate(ids):
                writer.writerow([vat, "DE136695976", "Kunde %d GmbH" % n, "Stadt"])
        env = dict(os.environ, XDG_DATA_HOME=os.path.join(folder, "data"), LANG="C.UTF-8",
                   ORVELWDDX_VIES_URL="http://127.0.0.1:%d/taxation_customs/vies/services/checkVatService"
                   % server.server_address[1])
        env.pop("http_proxy", None)
        start = time.monotonic()
        run = subprocess.run([check, "batch", table], env=env, capture_output=True, text=True, timeout=3600)
        seconds = time.monotonic() - start
        server.shutdown()
        out = list(csv.DictReader(run.stdout.splitlines()))
        journal = sqlite3.connect(os.path.join(folder, "data", "OrvelWddx", "journal.sqlite"))
        records = journal.execute("SELECT count(*), count(DISTINCT foreign_id) FROM records").fetchone()
        journal.close()

    statuses = collections.Counter(row["Status"] for row in out)
    print("ids %d in %d member states; largest %s with %d" % (IDS, len(per_country), largest, largest_ids))
    print("ideal     %7.1f s  (%d / %d x %d ms)" % (ideal, largest_ids, PER_STATE, ANSWER_SECONDS * 1000))
    print("time      %7.1f s" % seconds)
    print("ratio     %7.2f x  (aim <= 1.30)" % (seconds / ideal))
    print("refused   %7d requests (MS_MAX_CONCURRENT_REQ), %.1f %% of the ids" % (stand_in.refused,
                                                                                  100.0 * stand_in.refused / IDS))
    print("faults    %7d transient; answers %d" % (stand_in.faults, stand_in.answers))
    print("most at once per state: %s" % max(stand_in.most.values()))
    print("rows      %7d, in input order: %s; statuses %s" % (len(out), [r["vat"] for r in out] == ids,
                                                             dict(statuses)))
    print("journal   %7d records for %d ids; exit %d" % (records[0], records[1], run.returncode))
    if run.returncode not in (0, 3):
        print(run.stderr[-2000:])
    return 0 if len(out) == IDS and records[1] == IDS else 1


if __name__ == "__main__":
    sys.exit(main())
