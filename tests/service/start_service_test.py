"""The run command's start logic: the service is started when nothing answers on its address, and not a second time;
its request log never shows a password."""

import os
import re
import shutil
import signal
import socket
import subprocess
import tempfile
import time
import unittest
import urllib.request

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "../..")
SERVICE = os.environ["ORVELWDDX_SERVICE"]


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def answers(port):
    with socket.socket() as probe:
        return probe.connect_ex(("127.0.0.1", port)) == 0


class StartServiceTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="orvel-start-")
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.port = free_port()
        self.env = dict(os.environ, ORVELWDDX_HOST="127.0.0.1:%d" % self.port, ORVELWDDX_SERVICE=SERVICE,
                        XDG_STATE_HOME=os.path.join(self.dir, "state"), XDG_CONFIG_HOME=os.path.join(self.dir, "config"),
                        XDG_DATA_HOME=os.path.join(self.dir, "data"))

    def stop(self, pid):
        os.kill(pid, signal.SIGTERM)
        for _ in range(100):
            if not answers(self.port):
                return
            time.sleep(0.05)
        os.kill(pid, signal.SIGKILL)

    def start(self):
        return subprocess.run([os.path.join(ROOT, "scripts/start-service")], env=self.env, capture_output=True,
                              text=True, timeout=30)

    def test_starts_the_service_once(self):
        first = self.start()
        self.assertEqual(first.returncode, 0, first.stderr)
        started = re.search(r"started on 127\.0\.0\.1:%d \(pid (\d+)\)" % self.port, first.stdout)
        self.assertIsNotNone(started, first.stdout)
        self.addCleanup(self.stop, int(started.group(1)))

        url = "http://127.0.0.1:%d/tarvik?un=demo&pw=wexo&iban=DE89370400440532013000&id=0&name=" % self.port
        with urllib.request.urlopen(url, timeout=10) as reply:
            self.assertIn(b"<var name='bankname'><string>Commerzbank</string>", reply.read())

        second = self.start()
        self.assertEqual(second.returncode, 0, second.stderr)
        self.assertIn("already answers", second.stdout)
        self.assertNotIn("started", second.stdout)

    def test_leaves_a_remote_host_alone(self):
        result = subprocess.run([os.path.join(ROOT, "scripts/start-service")],
                                env=dict(self.env, ORVELWDDX_HOST="checks.example:8590"), capture_output=True,
                                text=True, timeout=30)
        self.assertEqual((result.returncode, result.stdout), (0, ""))

    def test_socket_activation_serves_the_socket_systemd_hands_over(self):
        # systemd-socket-activate listens itself and starts the service on the first connection, as a socket unit does.
        activator = subprocess.Popen(["systemd-socket-activate", "-l", "127.0.0.1:%d" % self.port, SERVICE,
                                      "--listen", "127.0.0.1:1"], env=self.env, stderr=subprocess.DEVNULL)
        try:
            for _ in range(100):
                if answers(self.port):
                    break
                time.sleep(0.05)
            url = "http://127.0.0.1:%d/tarvik?un=demo&pw=wexo&cc=4111111111111111" % self.port
            with urllib.request.urlopen(url, timeout=10) as reply:
                self.assertIn(b"<var name='result'><string>0</string>", reply.read())
        finally:
            activator.terminate()
            activator.wait(10)

    def test_start_up_prints_only_the_services_own_lines(self):
        service = subprocess.Popen([SERVICE, "--listen", "127.0.0.1:%d" % self.port], env=self.env,
                                   stderr=subprocess.PIPE, text=True)
        try:
            lines = []
            for line in service.stderr:
                lines.append(line)
                if "serving http" in line:
                    break
        finally:
            service.terminate()
            service.wait(10)
            service.stderr.close()
        self.assertTrue(lines and "serving http" in lines[-1], lines)
        for line in lines:
            self.assertTrue(line.startswith("orvelwddx-service: "), line)

    def test_help_follows_the_locale(self):
        for variables, first in [({"LC_ALL": "de_DE.UTF-8"}, "Aufruf: orvelwddx-service [Optionen]"),
                                 ({"LC_ALL": "", "LANG": "de_AT.UTF-8"}, "Aufruf: orvelwddx-service [Optionen]"),
                                 ({"LC_ALL": "C", "LANG": "de_DE.UTF-8"}, "Usage: orvelwddx-service [options]"),
                                 ({"LC_ALL": "en_US.UTF-8"}, "Usage: orvelwddx-service [options]")]:
            with self.subTest(**variables):
                ran = subprocess.run([SERVICE, "--help"], env=dict(self.env, LC_MESSAGES="", **variables),
                                     capture_output=True, text=True, timeout=30)
                self.assertEqual(ran.returncode, 0, ran.stderr)
                self.assertEqual(ran.stdout.splitlines()[0], first)
                self.assertIn("--connections-per-client N", ran.stdout)

    def test_request_log_leaves_the_password_and_card_number_out(self):
        log = os.path.join(self.dir, "log")
        with open(log, "w") as output:
            service = subprocess.Popen([SERVICE, "--listen", "127.0.0.1:%d" % self.port, "--log"], env=self.env,
                                       stderr=output)
        try:
            for _ in range(100):
                if answers(self.port):
                    break
                time.sleep(0.05)
            url = "http://127.0.0.1:%d/tarvik?un=demo&pw=geheim&cc=4111111111111111" % self.port
            urllib.request.urlopen(url, timeout=10).read()
        finally:
            service.terminate()
            service.wait(10)
        with open(log) as output:
            text = output.read()
        self.assertNotIn("geheim", text)
        self.assertNotIn("4111111111111111", text)  # nor the card number
        self.assertRegex(text, r"GET /tarvik\?un=demo&pw=\*&cc=\* 200 \d+us")
        self.assertIn("listen 127.0.0.1:%d" % self.port, text)  # the settings, once at start-up

    def test_users_file_is_read_again_on_sighup(self):
        users = os.path.join(self.dir, "users")
        shutil.copy(os.path.join(ROOT, "src/service/data/users.example"), users)
        log = os.path.join(self.dir, "log")
        with open(log, "w") as output:
            service = subprocess.Popen([SERVICE, "--listen", "127.0.0.1:%d" % self.port, "--users-file", users],
                                       env=self.env, stderr=output)

        def result(password):
            url = "http://127.0.0.1:%d/tarvik?un=demo&pw=%s&cc=4111111111111111" % (self.port, password)
            with urllib.request.urlopen(url, timeout=10) as reply:
                return re.search(rb"<var name='result'><string>(-?\d+)</string>", reply.read()).group(1)

        try:
            for _ in range(100):
                if answers(self.port):
                    break
                time.sleep(0.05)
            self.assertEqual(result("wexo"), b"0")
            hashed = subprocess.run([SERVICE, "--hash-password"], input="neu\n", capture_output=True, text=True,
                                    timeout=30, env=self.env).stdout.strip()
            with open(users, "w") as output:
                output.write("demo:%s\n" % hashed)
            service.send_signal(signal.SIGHUP)
            for _ in range(100):
                with open(log) as output:
                    if "users file read again" in output.read():
                        break
                time.sleep(0.05)
            # The login remembered from before the change counts no more.
            self.assertEqual(result("wexo"), b"90")
            self.assertEqual(result("neu"), b"0")
        finally:
            service.terminate()
            service.wait(10)


if __name__ == "__main__":
    unittest.main()
