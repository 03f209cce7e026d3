"""Starts of the program itself: --help without a window, and one window per session, on a private bus. Run under
/usr/bin/python3 (Debian's python3-dbus)."""

import os
import signal
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "server"))
from orvelbus import PROGRAM, PrivateBus, wait_until  # noqa: E402


class Help(unittest.TestCase):
    def test_help_prints_the_switches_in_the_locale_s_language_and_ends(self):
        # No display and no bus: the help needs neither.
        base = {"PATH": os.environ.get("PATH", "/usr/bin:/bin")}
        for locale, first_line, exit_line in (
                ("C.UTF-8", "Usage: orvelwddx [switch]", "Exit status: 0 done, 1 the program could not start."),
                ("en_GB.UTF-8", "Usage: orvelwddx [switch]", "Exit status: 0 done, 1 the program could not start."),
                ("de_DE.UTF-8", "Aufruf: orvelwddx [Schalter]",
                 "Rückgabewert: 0 erledigt, 1 das Programm konnte nicht starten."),
                ("de_AT.UTF-8", "Aufruf: orvelwddx [Schalter]",
                 "Rückgabewert: 0 erledigt, 1 das Programm konnte nicht starten.")):
            for switch in ("--help", "/?"):
                with self.subTest(locale=locale, switch=switch):
                    result = subprocess.run([PROGRAM, switch], env=dict(base, LANG=locale), capture_output=True,
                                            text=True, timeout=30)
                    self.assertEqual(result.returncode, 0)
                    self.assertEqual(result.stderr, "")
                    lines = result.stdout.splitlines()
                    self.assertEqual(lines[0], first_line)
                    self.assertEqual(lines[-1], exit_line)
                    for name in ("-RegServer", "-UnregServer", "-Embedding, -Automation", "--help"):
                        self.assertTrue(any(line.startswith("  " + name) for line in lines), name)


class OneWindow(unittest.TestCase):
    def setUp(self):
        self.bus = PrivateBus()
        self.connection = self.bus.connect()

    def tearDown(self):
        self.bus.close()

    def start_window(self):
        first = self.bus.start()
        wait_until(lambda: self.connection.name_has_owner("OrvelWddx.Window"), 20, "the window holds its name")
        self.assertEqual(self.bus.owner_pid(self.connection, "OrvelWddx.Window"), first.pid)
        return first

    def test_a_second_start_brings_the_open_window_to_the_front(self):
        first = self.start_window()
        monitor = subprocess.Popen(["dbus-monitor", "--address", self.bus.address,
                                    "type='method_call',interface='OrvelWddx.Window'"],
                                   stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        try:
            time.sleep(0.5)  # the monitor is listening
            second = self.bus.run()
            self.assertEqual((second.returncode, second.stdout, second.stderr), (0, "", ""))
            time.sleep(0.5)
        finally:
            monitor.terminate()
            seen = monitor.communicate(timeout=10)[0]
        self.assertIn("member=Activate", seen)
        self.assertIsNone(first.poll())
        self.assertEqual(self.bus.owner_pid(self.connection, "OrvelWddx.Window"), first.pid)
        self.assertEqual(self.bus.owner_pid(self.connection, "OrvelWddx.Tarvik"), first.pid)
        first.terminate()
        first.wait(10)

    def test_a_window_that_does_not_answer_is_named_and_no_second_one_opens(self):
        first = self.start_window()
        os.kill(first.pid, signal.SIGSTOP)
        second = subprocess.Popen([PROGRAM], env=self.bus.env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                  text=True)
        try:
            # Said on standard error and in a message box, which stays until the user closes it.
            self.assertEqual(second.stderr.readline(),
                             "Das Fenster von OrvelWddx ist schon offen, antwortet aber nicht.\n")
            self.assertEqual(self.bus.owner_pid(self.connection, "OrvelWddx.Window"), first.pid)
        finally:
            second.terminate()
            second.wait(10)
            second.stderr.close()
            os.kill(first.pid, signal.SIGCONT)
        first.terminate()
        first.wait(10)

    def test_automation_starts_beside_an_open_window_take_no_window_name(self):
        first = self.start_window()
        result = self.bus.run("-RegServer")
        self.assertEqual(result.returncode, 0)
        self.assertEqual(self.bus.owner_pid(self.connection, "OrvelWddx.Window"), first.pid)
        first.terminate()
        first.wait(10)
        wait_until(lambda: not self.connection.name_has_owner("OrvelWddx.Window"), 10, "the window's name is free")
        server = self.bus.start("-Embedding")
        wait_until(lambda: self.connection.name_has_owner("OrvelWddx.Tarvik"), 10, "the server owns its names")
        self.assertFalse(self.connection.name_has_owner("OrvelWddx.Window"))
        server.terminate()
        server.wait(10)


if __name__ == "__main__":
    unittest.main()
