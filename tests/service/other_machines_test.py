"""The service as other machines meet it, in a network namespace of its own that holds only `lo` with addresses of
other networks: plain HTTP logins from elsewhere are warned of or refused, other machines are locked out by address
and name, IPv6 clients count for the connection limit by their /64, a TLS key others may read is refused."""

import base64
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest

SERVICE = os.environ["ORVELWDDX_SERVICE"]
DEBIAN_BANKS = "/usr/share/ktoblzcheck/blz_20200420.txt"
USERS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "src", "service", "data",
                     "users.example")
SERVER_V4, SERVER_V6 = "192.0.2.1", "2001:db8:1:2::1"
ADMITTED = b"<var name='result'><string>0</string>"
REFUSED = b"<var name='result'><string>90</string>"


def isolate():
    """Runs this file again inside a new network namespace (as root of a user namespace); False when it cannot."""
    if os.environ.get("ORVEL_ISOLATED"):
        return True
    env = dict(os.environ, ORVEL_ISOLATED="1")
    try:
        done = subprocess.run(["unshare", "-rn", sys.executable] + sys.argv, env=env, timeout=100)
    except (OSError, subprocess.TimeoutExpired):
        return False
    sys.exit(done.returncode)


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def exchange(source, server, port, request, timeout=5):
    family = socket.AF_INET6 if ":" in server else socket.AF_INET
    with socket.socket(family) as s:
        s.settimeout(timeout)
        s.bind((source, 0))
        s.connect((server, port))
        s.sendall(request)
        answer = b""
        try:
            while chunk := s.recv(65536):
                answer += chunk
        except OSError:
            pass
        return answer


def get(path, extra=b""):
    return b"GET " + path + b" HTTP/1.1\r\nHost: x\r\nConnection: close\r\n" + extra + b"\r\n"


def check(user, password):
    return get(b"/tarvik?un=%s&pw=%s&iban=DE89370400440532013000" % (user, password))


def basic(user, password):
    return b"Authorization: Basic " + base64.b64encode(user + b":" + password) + b"\r\n"


class Service:
    def __init__(self, *options, listen=(SERVER_V4,)):
        self.port = free_port()
        self.log = tempfile.TemporaryFile()
        command = [SERVICE, "--bank-file", DEBIAN_BANKS, "--users-file", USERS, "--listen", "127.0.0.1:%d" % self.port]
        for address in listen:
            command += ["--listen", ("[%s]:%d" if ":" in address else "%s:%d") % (address, self.port)]
        self.proc = subprocess.Popen(command + list(options), stderr=self.log)
        for _ in range(100):
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return
            except OSError:
                time.sleep(0.05)

    def stderr(self):
        self.log.seek(0)
        return self.log.read().decode()

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.proc.terminate()
        self.proc.wait(timeout=10)
        self.log.close()


class OtherMachinesTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not isolate():
            raise unittest.SkipTest("no network namespace (unshare -rn) here")
        subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
        subprocess.run(["ip", "addr", "add", "192.0.2.1/24", "dev", "lo"], check=True)
        for address in ("2001:db8:1:2::1/48", "2001:db8:1:2::a/128", "2001:db8:1:2::b/128", "2001:db8:1:2::c/128"):
            subprocess.run(["ip", "addr", "add", address, "dev", "lo", "nodad"], check=True)

    def test_plain_logins_from_other_machines_are_warned_of_or_refused(self):
        cases = [
            # options, a warning at start and on the page, a remote login over plain HTTP admitted
            ((), True, True),
            (("--require-tls-for-remote",), False, False),
        ]
        for options, warned, admitted in cases:
            with self.subTest(options=options), Service(*options) as service:
                page = exchange("192.0.2.9", SERVER_V4, service.port, get(b"/", basic(b"demo", b"wexo")))
                remote = exchange("192.0.2.9", SERVER_V4, service.port, check(b"demo", b"wexo"))
                status = exchange("192.0.2.9", SERVER_V4, service.port, get(b"/status", basic(b"demo", b"wexo")))
                local = exchange("127.0.0.1", "127.0.0.1", service.port, check(b"demo", b"wexo"))
                log = service.stderr()
                self.assertEqual("warning: %s:%d: other machines reach" % (SERVER_V4, service.port) in log, warned,
                                 log)
                self.assertEqual("Warnung:" in page.decode(), warned, page[:300])
                self.assertIn(ADMITTED if admitted else REFUSED, remote)
                self.assertTrue(status.startswith(b"HTTP/1.1 200" if admitted else b"HTTP/1.1 401"), status[:100])
                self.assertIn(ADMITTED, local)
                self.assertIn("access a password of the users file for everyone; other machines over plain HTTP " +
                              ("accepted" if admitted else "refused"), log)

    def test_other_machines_stay_locked_by_address(self):
        with Service() as service:
            for n in range(5):
                self.assertIn(REFUSED, exchange("192.0.2.3", SERVER_V4, service.port, check(b"mallory", b"%d" % n)))
            self.assertIn(REFUSED, exchange("192.0.2.3", SERVER_V4, service.port, check(b"demo", b"wexo")))
            self.assertIn(ADMITTED, exchange("192.0.2.4", SERVER_V4, service.port, check(b"demo", b"wexo")))

    def test_ipv6_clients_of_one_network_share_the_connection_limit(self):
        head = (b"POST /soap/ITarvik HTTP/1.1\r\nHost: x\r\nContent-Type: text/xml\r\nContent-Length: 60000\r\n\r\n<")
        with Service("--connections-per-client", "2", "--timeout", "30", listen=(SERVER_V6,)) as service:
            slow = []
            for source in ("2001:db8:1:2::a", "2001:db8:1:2::b"):
                s = socket.socket(socket.AF_INET6)
                s.bind((source, 0))
                s.connect((SERVER_V6, service.port))
                s.sendall(head)
                slow.append(s)
            time.sleep(1.5)
            # A third address of the same /64: its request makes room by ending one of the two slow ones.
            answer = exchange("2001:db8:1:2::c", SERVER_V6, service.port,
                              get(b"/tarvik?un=demo&pw=wexo&iban=DE89370400440532013000"))
            self.assertIn(ADMITTED, answer)
            time.sleep(0.3)
            ended = []
            for s in slow:
                s.setblocking(False)
                try:
                    ended.append(s.recv(100))
                except BlockingIOError:
                    pass
                s.close()
            self.assertEqual(len(ended), 1, ended)
            self.assertTrue(ended[0].startswith(b"HTTP/1.1 408"), ended)

    def test_a_tls_key_others_may_read_is_refused_unless_allowed(self):
        folder = tempfile.mkdtemp(prefix="orvel-key-")
        key, cert = os.path.join(folder, "key.pem"), os.path.join(folder, "cert.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                        "-subj", "/CN=localhost", "-days", "1", "-keyout", key, "-out", cert],
                       check=True, capture_output=True)
        for mode, options, starts in ((0o644, (), False), (0o644, ("--allow-readable-key",), True),
                                      (0o600, (), True)):
            with self.subTest(mode=oct(mode), options=options):
                os.chmod(key, mode)
                with subprocess.Popen([SERVICE, "--bank-file", DEBIAN_BANKS, "--listen", "127.0.0.1:0",
                                       "--tls-listen", "127.0.0.1:0", "--tls-cert", cert, "--tls-key", key,
                                       *options], stderr=subprocess.PIPE, text=True) as running:
                    try:
                        running.wait(timeout=1)
                    except subprocess.TimeoutExpired:
                        running.terminate()
                    log = running.stderr.read()
                    self.assertEqual(running.wait() != 1, starts, log)
                    self.assertEqual("is readable by every user of this machine" in log, not starts, log)
        shutil.rmtree(folder)

    def test_the_start_line_names_who_is_answered_without_a_users_file(self):
        port = free_port()
        with subprocess.Popen([SERVICE, "--bank-file", DEBIAN_BANKS, "--listen", "%s:%d" % (SERVER_V4, port),
                               "--allow-anyone"], stderr=subprocess.PIPE, text=True) as running:
            first = running.stderr.readline()
            running.terminate()
        self.assertIn("users-file none; access everyone on this machine without a password; other machines reach "
                      "the listeners but are refused", first)


if __name__ == "__main__":
    unittest.main()
