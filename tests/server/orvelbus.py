"""A private session bus, the automation server on it, and a WDDX fixture service, for client tests in another
process. Run under /usr/bin/python3 (Debian's python3-dbus)."""

import http.server
import os
import re
import shutil
import signal
import subprocess
import tempfile
import threading
import time
import unittest
import urllib.parse

import dbus

PROGRAM = os.environ.get("ORVELWDDX_PROGRAM", "")
PROBE = os.environ.get("ORVELWDDX_PROBE", "")
ERROR = "OrvelWddx.Error."
CLASSES = ("Tarvik", "Address", "UStID")


class LocalService:
    """The local checking service on a free loopback port (host), its log read and dropped so that it never blocks."""

    def __init__(self, *args):
        self.process = subprocess.Popen([os.environ["ORVELWDDX_SERVICE"], "--listen", "127.0.0.1:0", *args],
                                        stderr=subprocess.PIPE, text=True)
        port = None
        for line in self.process.stderr:
            found = re.search(r"serving http 127\.0\.0\.1:0 \(port (\d+)\)", line)
            if found:
                port = found.group(1)
                break
        assert port, "the service named no port"
        self.host = "127.0.0.1:" + port
        self.reader = threading.Thread(target=self.process.stderr.read, daemon=True)
        self.reader.start()

    def close(self):
        self.process.terminate()
        self.process.wait()
        self.reader.join(10)
        self.process.stderr.close()


class PrivateBus:
    """A session bus of its own, with its own XDG_DATA_HOME and XDG_CONFIG_HOME, so that registration and activation
    stay inside."""

    def __init__(self, **settings):
        """settings: environment variables for the bus and every server it starts."""
        self.dir = tempfile.mkdtemp(prefix="orvelbus-")
        self.data = os.path.join(self.dir, "data")
        self.config = os.path.join(self.dir, "config")
        self.address = "unix:path=" + os.path.join(self.dir, "bus")
        env = {k: v for k, v in os.environ.items() if not k.startswith("DBUS_")}
        env.update(XDG_DATA_HOME=self.data, XDG_CONFIG_HOME=self.config, HOME=os.path.join(self.dir, "home"), QT_QPA_PLATFORM="offscreen",
                   XDG_RUNTIME_DIR=self.dir, DBUS_SESSION_BUS_ADDRESS=self.address)
        env.update(settings)
        self.env = env
        self.daemon = subprocess.Popen(
            ["dbus-daemon", "--session", "--nofork", "--address=" + self.address, "--print-address=1"],
            env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.daemon.stdout.readline()
        self.servers = set()
        self.connections = []

    def connect(self):
        connection = dbus.bus.BusConnection(self.address)
        self.connections.append(connection)
        return connection

    def run(self, *args, program=None, env=None):
        """Runs the program to its end, as a registration does."""
        return subprocess.run([program or PROGRAM, *args], env=dict(self.env, **(env or {})),
                              capture_output=True, text=True, timeout=60)

    def start(self, *args, program=None, env=None):
        server = subprocess.Popen([program or PROGRAM, *args], env=dict(self.env, **(env or {})),
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.servers.add(server.pid)
        return server

    def owner_pid(self, connection, name):
        pid = int(connection.get_object("org.freedesktop.DBus", "/org/freedesktop/DBus").GetConnectionUnixProcessID(
            name, dbus_interface="org.freedesktop.DBus"))
        self.servers.add(pid)
        return pid

    def close(self):
        for connection in self.connections:
            connection.close()
        self.daemon.terminate()
        self.daemon.wait()
        self.daemon.stdout.close()
        # A server without its bus ends by itself; give it a moment before insisting.
        for pid in self.servers:
            try:
                wait_gone(pid)
            except AssertionError:
                os.kill(pid, signal.SIGKILL)
        shutil.rmtree(self.dir, ignore_errors=True)


def alive(pid):
    try:
        with open("/proc/%d/stat" % pid) as stat:
            return stat.read().split(") ")[1][0] != "Z"
    except FileNotFoundError:
        return False


def wait_until(predicate, seconds, what):
    """Polls predicate until it gives a true value and returns that; fails the test when it has not after seconds.
    what: the awaited state, for the failure message."""
    deadline = time.monotonic() + seconds
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise AssertionError("not within %g s: %s" % (seconds, what))
        time.sleep(0.02)


def wait_gone(pid, seconds=10):
    wait_until(lambda: not alive(pid), seconds, "process %d ended" % pid)


def command_line(pid):
    with open("/proc/%d/cmdline" % pid, "rb") as cmdline:
        return [part.decode() for part in cmdline.read().split(b"\0") if part]


def create(connection, name):
    """CreateInstance on the class object of OrvelWddx.<name>; returns the object's proxy."""
    factory = connection.get_object("OrvelWddx." + name, "/OrvelWddx/" + name, introspect=False)
    path = factory.CreateInstance(dbus_interface="OrvelWddx.ClassFactory")
    return connection.get_object("OrvelWddx." + name, path, introspect=False)


def invoke(instance, dispid, kind, args):
    """OrvelWddx.Dispatch.Invoke; each argument travels as a variant of the type Python gives it."""
    return instance.Invoke(dispid, kind, dbus.Array(args, signature="v"), signature="isav",
                           dbus_interface="OrvelWddx.Dispatch")


def wddx(**variables):
    """A reply packet; a list becomes an array of strings."""
    def var(name, value):
        if isinstance(value, list):
            entries = "".join("<string>%s</string>" % entry for entry in value)
            return "<var name='%s'><array length='%d'>%s</array></var>" % (name, len(value), entries)
        return "<var name='%s'><string>%s</string></var>" % (name, value)
    body = "".join(var(name, value) for name, value in variables.items())
    return "<wddxPacket version='1.0'><header/><data><struct>%s</struct></data></wddxPacket>" % body


VIES_PATH = "/taxation_customs/vies/services/checkVatService"


def vies_answer(request):
    """A VIES checkVat answer to a request body: valid, for the country code and number asked for."""
    country = re.search(r"<countryCode>(.*?)</countryCode>", request).group(1)
    number = re.search(r"<vatNumber>(.*?)</vatNumber>", request).group(1)
    return ('<env:Envelope xmlns:env="http://schemas.xmlsoap.org/soap/envelope/"><env:Body>'
            '<ns2:checkVatResponse xmlns:ns2="urn:ec.europa.eu:taxud:vies:services:checkVat:types">'
            "<ns2:countryCode>%s</ns2:countryCode><ns2:vatNumber>%s</ns2:vatNumber>"
            "<ns2:requestDate>2024-05-17+02:00</ns2:requestDate><ns2:valid>true</ns2:valid>"
            "<ns2:name>Müller GmbH</ns2:name><ns2:address>Hauptstraße 1\n12345 Berlin</ns2:address>"
            "</ns2:checkVatResponse></env:Body></env:Envelope>" % (country, number))


class Fixture:
    """The checking service and a VIES stand-in on 127.0.0.1: canned replies by path (text, or a function of the
    parsed query), every request path kept; a reply may be held back until release()."""

    def __init__(self, replies):
        fixture = self
        self.replies = replies
        self.requests = []
        self.gate = threading.Event()
        self.gate.set()

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                fixture.requests.append(self.path)
                fixture.gate.wait(30)
                url = urllib.parse.urlsplit(self.path)
                reply = fixture.replies.get(url.path, "")
                # A reply may be made from the query, e.g. to echo what a client asked for.
                body = (reply(urllib.parse.parse_qs(url.query)) if callable(reply) else reply).encode("cp1252")
                self.send_response(200)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def do_POST(self):
                request = self.rfile.read(int(self.headers["Content-Length"])).decode()
                fixture.requests.append(self.path)
                body = vies_answer(request).encode()
                self.send_response(200)
                self.send_header("Content-Type", "text/xml; charset=utf-8")
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()
        self.host = "127.0.0.1:%d" % self.server.server_address[1]

    def hold(self):
        self.gate.clear()

    def release(self):
        self.gate.set()

    def close(self):
        self.release()
        self.server.shutdown()
        self.server.server_close()


class FixtureBusTest(unittest.TestCase):
    """Tests against the fixture service (REPLIES by path, restored before each test) and a private bus on which the
    server is registered and reaches VIES at the fixture."""
    REPLIES = {}

    @classmethod
    def setUpClass(cls):
        cls.fixture = Fixture(dict(cls.REPLIES))
        cls.addClassCleanup(cls.fixture.close)
        cls.bus = PrivateBus(ORVELWDDX_VIES_URL="http://%s%s" % (cls.fixture.host, VIES_PATH))
        cls.addClassCleanup(cls.bus.close)
        result = cls.bus.run("-RegServer")
        assert result.returncode == 0, result.stderr

    def setUp(self):
        self.fixture.requests.clear()
        self.fixture.replies.update(self.REPLIES)


# The interfaces as clients know them: member, DISPID, kind, [in] parameter types, value type of a getter or put.
TABLES = {
    "ITarvik": [
        ("TestBlzKto", 201, "method", "sssssis", ""), ("SetProxy", 202, "method", "siss", ""),
        ("Result", 203, "get", "", "i"), ("Resulttext", 204, "get", "", "s"), ("BankName", 205, "get", "", "s"),
        ("SSLMode", 206, "get", "", "i"), ("SSLMode", 206, "put", "i", "i"), ("NewBlz", 207, "get", "", "s"),
        ("TestCc", 208, "method", "sss", ""), ("Search", 209, "method", "ssssi", ""),
        ("Banken", 210, "get", "i", "s"), ("BankenString", 211, "get", "", "s"), ("Host", 212, "get", "", "s"),
        ("Host", 212, "put", "s", "s"), ("Timeout", 213, "get", "", "i"), ("Timeout", 213, "put", "i", "i"),
        ("Iban", 214, "get", "", "s"), ("Bic", 215, "get", "", "s"), ("TestIban", 216, "method", "sssis", ""),
        ("TestIbanBic", 217, "method", "ssssis", ""), ("TestBic", 218, "method", "sss", ""),
        ("BicName", 219, "get", "", "s"), ("BicSct", 220, "get", "", "i"), ("BicSdd", 221, "get", "", "i"),
        ("BicB2b", 222, "get", "", "i"),
    ],
    "IAddress": [
        ("Check", 201, "method", "ssss", ""), ("CheckStr", 202, "method", "sssss", ""),
        ("CheckPof", 203, "method", "sssss", ""), ("SetProxy", 204, "method", "siss", ""),
        ("Result", 205, "get", "", "i"), ("Resulttext", 206, "get", "", "s"), ("Orte", 207, "get", "i", "s"),
        ("GetPlzType", 208, "method", "sss", ""), ("OrteString", 209, "get", "", "s"),
        ("AlteOrte", 210, "get", "i", "s"), ("AlteOrteString", 211, "get", "", "s"),
        ("SSLMode", 212, "get", "", "i"), ("SSLMode", 212, "put", "i", "i"), ("Rewrite", 213, "get", "", "i"),
        ("Rewrite", 213, "put", "i", "i"), ("Rewritten", 214, "get", "", "s"), ("Str46", 215, "get", "", "s"),
        ("Str22", 216, "get", "", "s"), ("Ortsteil", 217, "get", "", "s"), ("PlzOut", 218, "get", "", "s"),
        ("CheckStrHnr", 219, "method", "ssssss", ""), ("Host", 220, "get", "", "s"), ("Host", 220, "put", "s", "s"),
        ("Timeout", 221, "get", "", "i"), ("Timeout", 221, "put", "i", "i"),
    ],
    "IUStID": [
        ("Check", 201, "method", "s", ""), ("Result", 202, "get", "", "i"), ("Resulttext", 203, "get", "", "s"),
        ("SetProxy", 204, "method", "siss", ""), ("Timeout", 205, "get", "", "i"),
        ("Timeout", 205, "put", "i", "i"),
    ],
}
INTERFACE_OF = {"Tarvik": "ITarvik", "Address": "IAddress", "UStID": "IUStID"}


def members(interface):
    """Member names with their DISPIDs, each name once, in slot order."""
    seen = []
    for name, dispid, *_ in TABLES[interface]:
        if (name, dispid) not in seen:
            seen.append((name, dispid))
    return seen
