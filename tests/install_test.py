#!/usr/bin/python3
"""cmake --install into a temporary DESTDIR: the files a user gets, and a registration by the installed program that
names the installed path. Arguments: the cmake program and the build tree."""
import os
import subprocess
import sys
import tempfile
import unittest

CMAKE, BUILD = sys.argv[1], sys.argv[2]
PREFIX = "/usr/local"
FILES = ("bin/orvelwddx", "bin/orvelwddx-check", "share/doc/orvelwddx/README.md", "share/doc/orvelwddx/LICENSE",
         "share/applications/orvelwddx.desktop", "share/icons/hicolor/scalable/apps/orvelwddx.svg")


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
        desktop = os.path.join(self.root, "share/applications/orvelwddx.desktop")
        validation = subprocess.run(["desktop-file-validate", desktop], capture_output=True, text=True)
        self.assertEqual(validation.returncode, 0, validation.stdout + validation.stderr)
        with open(desktop, encoding="utf-8") as entry:
            lines = entry.read().splitlines()
        self.assertIn("Exec=orvelwddx", lines)
        self.assertIn("Icon=orvelwddx", lines)
        self.assertIn("Categories=Office;Finance;", lines)
        # Nothing of the build tree comes along: no tests, no benchmarks, no static libraries.
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


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
