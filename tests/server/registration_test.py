"""Registration and unregistration: exactly the files and entries, nothing else, no window, and the failures."""

import os
import shutil
import subprocess
import unittest
import xml.etree.ElementTree as ElementTree

from orvelbus import CLASSES, PROGRAM, PrivateBus, create, members, wait_until

GUIDS = {
    "Tarvik": "{B8765485-DA5F-4901-827F-490001F070B2}",
    "Address": "{08D195CF-A291-4188-B89C-8CC42A0959F3}",
    "UStID": "{8A92484B-1060-49B2-84EF-AE633A3486A3}",
}
INTERFACES = ("ITarvik", "IAddress", "IUStID")
REG_HEADER = "Windows Registry Editor Version 5.00\r\n\r\n"


def reg_entries(name, local_server):
    clsid, prog_id, description = GUIDS[name], "OrvelWddx." + name, name + " Objekt"
    entries = [("CLSID\\" + clsid, description), ("CLSID\\" + clsid + "\\LocalServer32", local_server),
               (prog_id, description), (prog_id + "\\Clsid", clsid), ("CLSID\\" + clsid + "\\ProgID", prog_id)]
    return "".join('[HKEY_CLASSES_ROOT\\%s]\r\n@="%s"\r\n\r\n' % (key, value.replace("\\", "\\\\").replace('"', '\\"'))
                   for key, value in entries)


def files_under(root):
    found = set()
    for directory, _, names in os.walk(root):
        found.update(os.path.relpath(os.path.join(directory, name), root) for name in names)
    return found


class RegistrationTest(unittest.TestCase):
    def setUp(self):
        self.bus = PrivateBus()
        self.addCleanup(self.bus.close)

    def register(self, *switches, program=None, env=None):
        result = self.bus.run(*switches, program=program, env=env)
        self.assertEqual(result.returncode, 0, result.stderr)
        return result

    def test_regserver_writes_exactly_the_files_and_entries(self):
        self.register("/regserver")
        classes = CLASSES
        expected = {"OrvelWddx/classes.reg"} | {"dbus-1/interfaces/OrvelWddx.%s.xml" % i for i in INTERFACES} | {
            "dbus-1/services/OrvelWddx.%s.service" % name for name in classes}
        self.assertEqual(files_under(self.bus.data), expected)

        program = os.path.realpath(PROGRAM)
        with open(os.path.join(self.bus.data, "OrvelWddx/classes.reg"), newline="") as reg:
            self.assertEqual(reg.read(), REG_HEADER + "".join(reg_entries(name, program) for name in classes))
        for name in classes:
            with open(os.path.join(self.bus.data, "dbus-1/services/OrvelWddx.%s.service" % name)) as service:
                self.assertEqual(service.read(),
                                 "[D-BUS Service]\nName=OrvelWddx.%s\nExec=%s -Embedding\n" % (name, program))
        for interface in INTERFACES:
            node = ElementTree.parse(os.path.join(self.bus.data, "dbus-1/interfaces/OrvelWddx.%s.xml" % interface))
            element = node.getroot().find("interface")
            self.assertEqual(element.get("name"), "OrvelWddx." + interface)
            declared = [(member.get("name"), int(member.find("annotation[@name='OrvelWddx.DispId']").get("value")))
                        for member in element if member.tag in ("method", "property")]
            self.assertEqual(declared, members(interface))

    def test_registration_is_rewritten_alike_and_unregserver_removes_it(self):
        self.register("-RegServer")
        before = files_under(self.bus.data)
        self.register("-REGSERVER")
        self.assertEqual(files_under(self.bus.data), before)
        self.register("-UNREGSERVER")
        self.assertEqual(files_under(self.bus.data), set())
        self.register("/unregserver")  # nothing left to remove is no failure

    def test_regserver_writes_the_service_units_and_unregserver_removes_them(self):
        service = os.path.realpath(os.path.join(os.path.dirname(PROGRAM), "../service/orvelwddx-service"))
        if not os.access(service, os.X_OK):
            self.skipTest("orvelwddx-service is not built")
        registered = self.register("-RegServer", env={"ORVELWDDX_HOST": "127.0.0.1:18590"})
        # Here no systemd user manager runs: enabling the socket for the next log-in is all, and said by nothing.
        self.assertEqual(registered.stderr, "")
        units = os.path.join(self.bus.config, "systemd/user")
        self.assertEqual(files_under(self.bus.config), {
            "systemd/user/orvelwddx-service.socket", "systemd/user/orvelwddx-service.service",
            "systemd/user/sockets.target.wants/orvelwddx-service.socket",
            "systemd/user/orvelwddx-update-data.service", "systemd/user/orvelwddx-update-data.timer",
            "systemd/user/timers.target.wants/orvelwddx-update-data.timer",
            "systemd/user/orvelwddx-retry.service", "systemd/user/orvelwddx-retry.timer",
            "systemd/user/timers.target.wants/orvelwddx-retry.timer"})
        check = os.path.realpath(os.path.join(os.path.dirname(PROGRAM), "../cli/orvelwddx-check"))
        with open(os.path.join(units, "orvelwddx-retry.service")) as retry_unit:
            self.assertIn("\nExecStart=%s journal --retry-pending\n" % check, retry_unit.read())
        with open(os.path.join(units, "orvelwddx-retry.timer")) as timer_unit:
            self.assertIn("\nOnCalendar=hourly\n", timer_unit.read())
        with open(os.path.join(units, "orvelwddx-service.socket")) as socket_unit:
            self.assertIn("\nListenStream=127.0.0.1:18590\n", socket_unit.read())
        with open(os.path.join(units, "orvelwddx-service.service")) as service_unit:
            self.assertIn("\nExecStart=%s\n" % service, service_unit.read())
        self.assertEqual(os.readlink(os.path.join(units, "sockets.target.wants/orvelwddx-service.socket")),
                         "../orvelwddx-service.socket")
        with open(os.path.join(units, "orvelwddx-update-data.service")) as update_unit:
            self.assertIn("\nExecStart=%s --update-data\n" % service, update_unit.read())
        with open(os.path.join(units, "orvelwddx-update-data.timer")) as timer_unit:
            timer = timer_unit.read().splitlines()
        for setting in ("OnCalendar=weekly", "RandomizedDelaySec=6h", "Persistent=true", "WantedBy=timers.target"):
            self.assertIn(setting, timer)
        self.assertEqual(os.readlink(os.path.join(units, "timers.target.wants/orvelwddx-update-data.timer")),
                         "../orvelwddx-update-data.timer")
        verified = subprocess.run(["systemd-analyze", "verify", "--man=no",
                                   os.path.join(units, "orvelwddx-update-data.timer")], capture_output=True, text=True)
        self.assertNotIn("Unknown", verified.stderr)
        self.register("-UnregServer")
        self.assertEqual(files_under(self.bus.config), set())

    def test_a_path_with_blanks_is_quoted_and_still_activates(self):
        folder = os.path.join(self.bus.dir, "Orvel Programme")
        os.makedirs(folder)
        program = os.path.join(folder, "orvelwddx")
        shutil.copy(PROGRAM, program)
        self.register("-regserver", program=program)
        with open(os.path.join(self.bus.data, "OrvelWddx/classes.reg"), newline="") as reg:
            self.assertIn(reg_entries("Tarvik", '"%s"' % program), reg.read())
        with open(os.path.join(self.bus.data, "dbus-1/services/OrvelWddx.Tarvik.service")) as service:
            self.assertIn("Exec='%s' -Embedding\n" % program, service.read())
        connection = self.bus.connect()
        tarvik = create(connection, "Tarvik")
        self.assertEqual(os.readlink("/proc/%d/exe" % self.bus.owner_pid(connection, "OrvelWddx.Tarvik")), program)
        tarvik.Release(dbus_interface="OrvelWddx.Object")

    def test_entries_that_cannot_be_written_fail_only_a_register_start(self):
        os.makedirs(self.bus.data)
        open(os.path.join(self.bus.data, "OrvelWddx"), "w").close()  # where classes.reg's folder belongs
        result = self.bus.run("-RegServer")
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("Fehler beim Erstellen eines Eintrages in der Systemregistrierung", result.stderr)

        server = self.bus.start("-Embedding")
        connection = self.bus.connect()
        connection.get_object("org.freedesktop.DBus", "/org/freedesktop/DBus")  # the bus is up
        wait_until(lambda: connection.name_has_owner("OrvelWddx.Tarvik"), 10, "the server owns its names")
        tarvik = create(connection, "Tarvik")
        tarvik.Release(dbus_interface="OrvelWddx.Object")
        self.assertEqual(server.wait(10), 0)

    def test_a_standalone_start_without_a_display_ends_with_a_message(self):
        result = self.bus.run(env={"QT_QPA_PLATFORM": "", "DISPLAY": "", "WAYLAND_DISPLAY": ""})
        self.assertEqual(result.returncode, 1)
        self.assertIn("fehlt eine Anzeige", result.stderr)

    def test_a_type_library_that_cannot_be_registered_ends_every_start(self):
        os.makedirs(os.path.join(self.bus.data, "dbus-1"))
        open(os.path.join(self.bus.data, "dbus-1", "interfaces"), "w").close()
        for switch in ("-RegServer", "-Embedding"):
            result = self.bus.run(switch)
            self.assertNotEqual(result.returncode, 0)
            self.assertIn("Die Typbibliothek kann nicht registriert werden", result.stderr)


if __name__ == "__main__":
    unittest.main()
