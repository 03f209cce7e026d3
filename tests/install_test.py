#!/usr/bin/python3
"""cmake --install into a temporary DESTDIR: the files a user gets, and a registration by the installed program that
names the installed path; the README's install lines beside a test build; the Debian package with its scripts.
Arguments: the cmake program, the build tree, and optionally the test classes to run."""
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import unittest
import urllib.request

CMAKE, BUILD = sys.argv[1], sys.argv[2]
SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PREFIX = "/usr/local"
SOCKET_UNIT = "orvelwddx-service.socket"
TIMER = "orvelwddx-update-data.timer"
RETRY_TIMER = "orvelwddx-retry.timer"
UNITS = ("lib/systemd/user/" + SOCKET_UNIT, "lib/systemd/user/orvelwddx-service.service",
         "lib/systemd/user-preset/80-orvelwddx.preset", "lib/systemd/system/orvelwddx-update-data.service",
         "lib/systemd/system/" + TIMER, "lib/systemd/user/orvelwddx-retry.service", "lib/systemd/user/" + RETRY_TIMER)
FILES = UNITS + ("bin/orvelwddx", "bin/orvelwddx-service", "bin/orvelwddx-check", "share/doc/orvelwddx/README.md", "share/doc/orvelwddx/LICENSE",
         "share/applications/orvelwddx.desktop", "share/icons/hicolor/scalable/apps/orvelwddx.svg",
         "share/orvelwddx/postleitzahlen.tsv", "share/orvelwddx/postleitzahlen.LICENCE.md",
         "share/orvelwddx/bankleitzahlen.tsv", "share/orvelwddx/bankleitzahlen.LICENCE.md", "share/orvelwddx/blz-methods.tsv",
         "lib/liborvelwddx-rules.a", "lib/liborvelwddx-platform.a", "lib/pkgconfig/orvelwddx-rules.pc") + tuple(
    "include/orvelwddx/rules/%s.h" % family for family in ("AddressRules", "AustrianDirectory", "BankDirectory", "Bic",
                                                           "BatchColumns", "Card", "CheckTable", "DataFolders", "DirectoryText", "Iban",
                                                           "OfficialData", "PostalData", "SclDirectory",
                                                           "TarvikChecks", "VatRules"))
README = os.path.join(SOURCE, "src/rules/README.md")


def check_units(test, root, prefix):
    """The service's user units under root: the socket on the service's address, the service naming the program
    under prefix, the hourly retry of pending confirmations, and the preset enabling the socket and that timer."""
    with open(os.path.join(root, UNITS[0]), encoding="utf-8") as unit:
        socket_unit = unit.read().splitlines()
    test.assertIn("ListenStream=127.0.0.1:8590", socket_unit)
    test.assertIn("WantedBy=sockets.target", socket_unit)
    with open(os.path.join(root, UNITS[1]), encoding="utf-8") as unit:
        test.assertIn("ExecStart=%s/bin/orvelwddx-service" % prefix, unit.read().splitlines())
    with open(os.path.join(root, UNITS[2]), encoding="utf-8") as preset:
        enabled = preset.read().splitlines()
    test.assertIn("enable " + SOCKET_UNIT, enabled)
    test.assertIn("enable " + RETRY_TIMER, enabled)
    with open(os.path.join(root, UNITS[5]), encoding="utf-8") as unit:
        test.assertIn("ExecStart=%s/bin/orvelwddx-check journal --retry-pending" % prefix, unit.read().splitlines())
    with open(os.path.join(root, UNITS[6]), encoding="utf-8") as unit:
        retry = unit.read().splitlines()
    for setting in ("OnCalendar=hourly", "Persistent=true", "WantedBy=timers.target"):
        test.assertIn(setting, retry)
    # The system timer writes the system's data folder, and nothing else.
    with open(os.path.join(root, UNITS[3]), encoding="utf-8") as unit:
        update = unit.read().splitlines()
    test.assertIn("ExecStart=%s/bin/orvelwddx-service --update-data --data-dir /var/lib/orvelwddx" % prefix, update)
    for setting in ("StateDirectory=orvelwddx", "ProtectSystem=strict", "ProtectHome=yes", "NoNewPrivileges=yes"):
        test.assertIn(setting, update)
    with open(os.path.join(root, UNITS[4]), encoding="utf-8") as unit:
        timer = unit.read().splitlines()
    for setting in ("OnCalendar=weekly", "Persistent=true", "WantedBy=timers.target"):
        test.assertIn(setting, timer)
    test.assertTrue(any(line.startswith("RandomizedDelaySec=") for line in timer))
    verified = subprocess.run(["systemd-analyze", "verify", "--man=no",
                               os.path.join(root, UNITS[4])], capture_output=True, text=True)
    test.assertNotIn("Unknown", verified.stderr)


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
        check_units(self, self.root, PREFIX)
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


def readme_install_lines():
    with open(os.path.join(SOURCE, "README.md"), encoding="utf-8") as readme:
        section = readme.read().split("\n## Install\n", 1)[1]
    block = re.search(r"```\n(.*?)```", section, re.S).group(1)
    return [line.split("  #")[0].strip() for line in block.splitlines() if line.strip()]


def cache_entries(build):
    with open(os.path.join(build, "CMakeCache.txt"), encoding="utf-8") as cache:
        return dict(re.findall(r"^(\w+):\w+=(.*)$", cache.read(), re.M))


class ReadmeInstallLinesTest(unittest.TestCase):
    """The README's install lines, run in a tree of links to the sources whose build/ is this test build: they
    configure a Release build of their own that neither inherits the test build's warnings as errors nor touches its
    files. One small library stands in for the whole release build, which takes minutes; the install and package
    lines must name the same folder."""

    def test_the_install_lines_build_in_a_folder_of_their_own(self):
        lines = readme_install_lines()
        self.assertEqual(set(re.findall(r"(?:-B|--build|--install|cd) (\S+)", "\n".join(lines))), {"build-release"})
        configure, build = lines[0].split(" && ")
        with tempfile.TemporaryDirectory(prefix="orvel-readme-") as tree:
            for name in os.listdir(SOURCE):
                if name != ".git" and name != "build" and not name.startswith("build-"):
                    os.symlink(os.path.join(SOURCE, name), os.path.join(tree, name))
            os.symlink(os.path.abspath(BUILD), os.path.join(tree, "build"))
            test_cache = os.path.join(BUILD, "CMakeCache.txt")
            before = os.stat(test_cache).st_mtime_ns, cache_entries(BUILD)
            for command in (configure, build + " --target orvel_platform"):
                ran = subprocess.run(["bash", "-c", command], cwd=tree, capture_output=True, text=True, timeout=600)
                self.assertEqual(ran.returncode, 0, command + "\n" + ran.stdout[-3000:] + ran.stderr[-3000:])
            release = os.path.join(tree, "build-release")
            settings = cache_entries(release)
            self.assertEqual(settings["CMAKE_BUILD_TYPE"], "Release")
            self.assertEqual(settings["ORVEL_WERROR"], "OFF")
            with open(os.path.join(release, "src/platform/CMakeFiles/orvel_platform.dir/flags.make"),
                      encoding="utf-8") as flags:
                compile_flags = flags.read()
            self.assertIn("-O3", compile_flags)
            self.assertNotIn("-Werror", compile_flags)
            self.assertTrue(os.path.isfile(os.path.join(release, "src/platform/liborvelwddx-platform.a")))
            self.assertEqual((os.stat(test_cache).st_mtime_ns, cache_entries(BUILD)), before)


STUB = """#!/bin/sh
echo "$(basename "$0") $*" >> "%s"
%s
"""


class PackageTest(unittest.TestCase):
    """cpack -G DEB from the build tree: the package's files, and its scripts as dpkg runs them, against a
    DPKG_ROOT of their own or with stand-ins for the system's commands, never this machine's /etc or sessions."""

    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory(prefix="orvel-package-")
        cpack = os.path.join(os.path.dirname(CMAKE), "cpack")
        made = subprocess.run([cpack, "-G", "DEB", "-B", cls.dir.name, "--config",
                               os.path.join(BUILD, "CPackConfig.cmake")], capture_output=True, text=True, timeout=540)
        if made.returncode != 0:
            cls.dir.cleanup()
            raise AssertionError(made.stdout + made.stderr)
        cls.deb = [os.path.join(cls.dir.name, name) for name in os.listdir(cls.dir.name) if name.endswith(".deb")][0]
        cls.root = os.path.join(cls.dir.name, "root")
        subprocess.run(["dpkg-deb", "-x", cls.deb, cls.root], check=True)
        cls.control = os.path.join(cls.dir.name, "control")
        subprocess.run(["dpkg-deb", "-e", cls.deb, cls.control], check=True)

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    def script(self, name, *arguments, env=None):
        env = dict(os.environ, DPKG_MAINTSCRIPT_PACKAGE="orvelwddx", **(env or {}))
        ran = subprocess.run([os.path.join(self.control, name), *arguments], env=env, capture_output=True, text=True,
                             timeout=60)
        self.assertEqual(ran.returncode, 0, name + ran.stdout + ran.stderr)

    def test_the_package_holds_the_installed_files_under_usr_and_its_scripts(self):
        listing = subprocess.run(["dpkg-deb", "-c", self.deb], capture_output=True, text=True, check=True).stdout
        files = {line.split()[-1][2:] for line in listing.splitlines() if line.startswith("-")}
        self.assertEqual(files, {"usr/" + name for name in FILES})
        check_units(self, os.path.join(self.root, "usr"), "/usr")
        for name in ("postinst", "prerm"):
            self.assertTrue(os.access(os.path.join(self.control, name), os.X_OK), name)

    def test_the_scripts_enable_the_socket_for_every_user_and_keep_the_administrators_choice(self):
        link = "etc/systemd/user/sockets.target.wants/" + SOCKET_UNIT

        def admin_disables(root):
            subprocess.run(["systemctl", "--root=" + root, "--global", "disable", SOCKET_UNIT], check=True,
                           capture_output=True)

        def without_systemd(root):
            os.remove(os.path.join(root, "usr/bin/systemctl"))

        def admin_presets_disabled(root):
            os.makedirs(os.path.join(root, "etc/systemd/user-preset"))
            with open(os.path.join(root, "etc/systemd/user-preset/00-local.preset"), "w", encoding="utf-8") as preset:
                preset.write("disable %s\n" % SOCKET_UNIT)

        install, upgrade = ("postinst", "configure", ""), ("postinst", "configure", "0.1.0")
        remove = ("prerm", "remove")
        cases = (
            ("installed", [install], True),
            ("upgraded", [install, upgrade], True),
            ("disabled by the administrator, then upgraded", [install, admin_disables, upgrade], False),
            ("removed", [install, remove], False),
            ("removed and installed again", [install, remove, install], True),
            ("disabled, removed and installed again", [install, admin_disables, remove, install], True),
            ("installed under a local preset that disables it", [admin_presets_disabled, install], False),
            ("installed where systemd is not", [without_systemd, install], True),
        )
        for name, steps, enabled in cases:
            with self.subTest(name), tempfile.TemporaryDirectory(prefix="orvel-dpkg-root-") as root:
                shutil.copytree(os.path.join(self.root, "usr/lib/systemd"), os.path.join(root, "usr/lib/systemd"))
                # The helper applies presets through the root's systemctl, and makes the links itself without one.
                os.makedirs(os.path.join(root, "usr/bin"))
                os.symlink(shutil.which("systemctl"), os.path.join(root, "usr/bin/systemctl"))
                for step in steps:
                    if callable(step):
                        step(root)
                    else:
                        self.script(*step, env={"DPKG_ROOT": root})
                self.assertEqual(os.path.islink(os.path.join(root, link)), enabled)
                if enabled:
                    self.assertEqual(os.readlink(os.path.join(root, link)), "/usr/lib/systemd/user/" + SOCKET_UNIT)
                timer_link = os.path.join(root, "etc/systemd/system/timers.target.wants/" + TIMER)
                self.assertEqual(os.path.islink(timer_link), steps[-1] != remove)
                # The administrator's choice for the socket leaves the retry timer alone.
                retry_link = os.path.join(root, "etc/systemd/user/timers.target.wants/" + RETRY_TIMER)
                self.assertEqual(os.path.islink(retry_link), steps[-1] != remove)
                if steps[-1] == remove:
                    # Nothing of the package's is left behind: installing again is a first installation.
                    self.assertEqual([found for folder, _, names in os.walk(root) for found in names
                                      if "orvelwddx" in found and not folder.startswith(os.path.join(root, "usr"))], [])

    def test_the_scripts_start_and_stop_the_socket_in_the_sessions_running_now(self):
        stubs = os.path.join(self.dir.name, "stubs")
        os.makedirs(stubs, exist_ok=True)
        log = os.path.join(stubs, "log")
        for command, body in (("loginctl", "printf '1000 alice\\n1001 bob\\n'"), ("runuser", ""),
                              ("deb-systemd-helper", ""), ("deb-systemd-invoke", ""), ("systemctl", "exit 1")):
            with open(os.path.join(stubs, command), "w", encoding="utf-8") as stub:
                stub.write(STUB % (log, body))
            os.chmod(os.path.join(stubs, command), 0o755)
        alice, bob = ("runuser -u %s -- env XDG_RUNTIME_DIR=/run/user/%s systemctl --user " % user
                      for user in (("alice", "1000"), ("bob", "1001")))
        env = {"PATH": stubs + os.pathsep + os.environ["PATH"], "DPKG_ROOT": ""}
        # The system's manager is asked only where it runs; the stand-ins answer it either way.
        systemd_runs = os.path.isdir("/run/systemd/system")
        cases = (
            (("postinst", "configure", ""), [
                "deb-systemd-helper --quiet --user was-enabled " + SOCKET_UNIT,
                "deb-systemd-helper --user enable " + SOCKET_UNIT,
                "deb-systemd-helper --quiet --user was-enabled " + RETRY_TIMER,
                "deb-systemd-helper --user enable " + RETRY_TIMER,
                "loginctl list-users --no-legend", alice + "daemon-reload", bob + "daemon-reload",
                "deb-systemd-helper --quiet --user is-enabled " + SOCKET_UNIT,
                "loginctl list-users --no-legend", alice + "start " + SOCKET_UNIT, bob + "start " + SOCKET_UNIT,
                "deb-systemd-helper --quiet --user is-enabled " + RETRY_TIMER,
                "loginctl list-users --no-legend", alice + "start " + RETRY_TIMER, bob + "start " + RETRY_TIMER,
                "deb-systemd-helper --quiet was-enabled " + TIMER, "deb-systemd-helper enable " + TIMER] + (
                ["systemctl --system daemon-reload", "deb-systemd-invoke start " + TIMER] if systemd_runs else [])),
            (("prerm", "remove"), [
                "loginctl list-users --no-legend"] + [
                user + "stop %s orvelwddx-service.service %s orvelwddx-retry.service" % (SOCKET_UNIT, RETRY_TIMER)
                for user in (alice, bob)] + [
                "deb-systemd-helper --user purge " + SOCKET_UNIT, "deb-systemd-helper --user purge " + RETRY_TIMER] + (
                ["deb-systemd-invoke stop %s orvelwddx-update-data.service" % TIMER] if systemd_runs else []) + [
                "deb-systemd-helper purge " + TIMER]),
            (("prerm", "upgrade", "0.1.0"), []),
        )
        for step, calls in cases:
            with self.subTest(" ".join(step)):
                if os.path.exists(log):
                    os.remove(log)
                self.script(*step, env=env)
                logged = []
                if os.path.exists(log):
                    with open(log, encoding="utf-8") as calls_made:
                        logged = calls_made.read().splitlines()
                self.assertEqual(logged, calls)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[3:])
