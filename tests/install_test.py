#!/usr/bin/python3
"""cmake --install into a temporary DESTDIR: the files a user gets, and a registration by the installed program that
names the installed path. Arguments: the cmake program and the build tree."""
import os
import re
import signal
import subprocess
import sys
import tempfile
import unittest
import urllib.request

CMAKE, BUILD = sys.argv[1], sys.argv[2]
PREFIX = "/usr/local"
FILES = ("bin/orvelwddx", "bin/orvelwddx-service", "bin/orvelwddx-check", "share/doc/orvelwddx/README.md", "share/doc/orvelwddx/LICENSE",
         "share/applications/orvelwddx.desktop", "share/icons/hicolor/scalable/apps/orvelwddx.svg",
         "share/orvelwddx/postleitzahlen.tsv", "share/orvelwddx/postleitzahlen.LICENCE.md",
         "share/orvelwddx/bankleitzahlen.tsv", "share/orvelwddx/bankleitzahlen.LICENCE.md", "share/orvelwddx/blz-methods.tsv",
         "lib/liborvelwddx-rules.a", "lib/liborvelwddx-platform.a", "lib/pkgconfig/orvelwddx-rules.pc") + tuple(
    "include/orvelwddx/rules/%s.h" % family for family in ("AddressRules", "BankDirectory", "Bic", "Card", "Iban",
                                                           "PostalData", "TarvikChecks", "VatRules"))
README = os.path.join(os.path.dirname(os.path.abspath(__file__)), "../src/rules/README.md")


class InstallTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory(prefix="orvel-install-")
        self.addCleanup(self.dir.cleanup)
        self.stage = os.path.join(self.dir.name, "stage")
        env = dict(os.environ, DESTDIR=self.stage)
        result = subprocess.run([CMAKE, "--install", BUILD, "--prefix", PREFIX], env=env, capture_output=True,
                                text=True, timeout=120)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.root = self.stage + PREFIX

    def test_the_files_under_the_prefix(self):
        for name in FILES:
            self.assertTrue(os.path.isfile(os.path.join(self.root, name)), name)
        self.assertTrue(os.access(os.path.join(self.root, "bin/orvelwddx"), os.X_OK))
        self.assertTrue(os.access(os.path.join(self.root, "bin/orvelwddx-service"), os.X_OK))
        desktop = os.path.join(self.root, "share/applications/orvelwddx.desktop")
        validation = subprocess.run(["desktop-file-validate", desktop], capture_output=True, text=True)
        self.assertEqual(validation.returncode, 0, validation.stdout + validation.stderr)
        with open(desktop, encoding="utf-8") as entry:
            lines = entry.read().splitlines()
        self.assertIn("Exec=orvelwddx", lines)
        self.assertIn("Icon=orvelwddx", lines)
        self.assertIn("Categories=Office;Finance;", lines)
        # Nothing else of the build tree comes along: no tests, no benchmarks, no other libraries.
        installed = {os.path.relpath(os.path.join(folder, name), self.root)
                     for folder, _, names in os.walk(self.stage) for name in names}
        self.assertEqual(installed, set(FILES))

    def test_registration_by_the_installed_program_names_the_installed_path(self):
        program = os.path.join(self.root, "bin/orvelwddx")
        data = os.path.join(self.dir.name, "data")
        env = {k: v for k, v in os.environ.items() if not k.startswith("DBUS_")}
        env.update(XDG_DATA_HOME=data, HOME=os.path.join(self.dir.name, "home"), QT_QPA_PLATFORM="offscreen")
        result = subprocess.run([program, "-RegServer"], env=env, capture_output=True, text=True, timeout=60)
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(os.path.join(data, "dbus-1/services/OrvelWddx.Tarvik.service"), encoding="utf-8") as service:
            self.assertIn("Exec=%s -Embedding\n" % program, service.read())
        with open(os.path.join(data, "OrvelWddx/classes.reg"), encoding="utf-8-sig") as classes:
            self.assertIn('@="%s"' % program, classes.read())

    def test_the_rules_readme_example_builds_with_pkg_config_and_checks(self):
        with open(README, encoding="utf-8") as readme:
            example = re.search(r"```cpp\n(.*?)```", readme.read(), re.S).group(1)
        source = os.path.join(self.dir.name, "example.cpp")
        with open(source, "w", encoding="utf-8") as out:
            out.write(example)
        env = dict(os.environ, PKG_CONFIG_PATH=os.path.join(self.root, "lib/pkgconfig"))
        flags = subprocess.run(["pkg-config", "--cflags", "--libs", "orvelwddx-rules"], env=env, capture_output=True,
                               text=True, check=True).stdout.split()
        program = os.path.join(self.dir.name, "example")
        # A tree built with the sanitizers installs instrumented libraries: the example needs that compiler and runtime.
        with open(os.path.join(BUILD, "CMakeCache.txt"), encoding="utf-8") as cache:
            settings = dict(re.findall(r"^(\w+):\w+=(.*)$", cache.read(), re.M))
        compiler = ["g++"]
        if settings.get("ORVEL_SANITIZE", "OFF").upper() in ("ON", "1", "TRUE"):
            compiler = [settings["CMAKE_CXX_COMPILER"], "-fsanitize=address,undefined"]
        built = subprocess.run([*compiler, source, "-o", program, *flags], capture_output=True, text=True,
                               timeout=300)
        self.assertEqual(built.returncode, 0, built.stderr)
        ran = subprocess.run([program, "DE89370400440532013000", "DE89370400440532013001"], capture_output=True,
                             text=True, timeout=60)
        self.assertEqual(ran.returncode, 0, ran.stderr)
        self.assertEqual(ran.stdout.splitlines()[0], "DE89370400440532013000 0 Commerzbank")
        self.assertRegex(ran.stdout.splitlines()[1], r"^DE89370400440532013001 [1-9][0-9] ")

    def test_the_installed_service_answers_from_its_installed_postal_data(self):
        env = {k: v for k, v in os.environ.items() if not k.startswith("DBUS_")}
        env.update(XDG_DATA_HOME=os.path.join(self.dir.name, "data"), XDG_CONFIG_HOME=os.path.join(self.dir.name, "config"))
        service = subprocess.Popen([os.path.join(self.root, "bin/orvelwddx-service"), "--listen", "127.0.0.1:0"],
                                   env=env, stderr=subprocess.PIPE, text=True)
        try:
            log, port = "", None
            for line in service.stderr:
                log += line
                served = re.search(r"serving http 127\.0\.0\.1:0 \(port (\d+)\)", line)
                if served:
                    port = int(served.group(1))
                    break
            self.assertIsNotNone(port, log)
            self.assertIn("postal codes %s/share/orvelwddx/postleitzahlen.tsv" % self.root, log)
            url = "http://127.0.0.1:%d/address?un=&pw=&func=check&plz=10117&ort=Berlin&rewrite=0" % port
            with urllib.request.urlopen(url, timeout=10) as reply:
                self.assertIn(b"<var name='result'><string>0</string>", reply.read())
        finally:
            service.send_signal(signal.SIGTERM)
            service.communicate(timeout=30)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
