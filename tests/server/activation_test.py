"""Bus activation and the end of the process: a client's first call starts the server with -Embedding; the server
ends when its last object is released, also when the client simply leaves the bus."""

import time
import unittest

import dbus

from orvelbus import CLASSES, PrivateBus, alive, command_line, create, wait_gone, wait_until


class ActivationTest(unittest.TestCase):
    def setUp(self):
        self.bus = PrivateBus()
        self.addCleanup(self.bus.close)
        result = self.bus.run("-RegServer")
        self.assertEqual(result.returncode, 0, result.stderr)

    def test_the_first_call_starts_the_server_and_the_last_release_ends_it(self):
        connection = self.bus.connect()
        self.assertFalse(connection.name_has_owner("OrvelWddx.Tarvik"))
        tarvik = create(connection, "Tarvik")
        pid = self.bus.owner_pid(connection, "OrvelWddx.Tarvik")
        self.assertEqual(command_line(pid)[1:], ["-Embedding"])
        # One process owns every class.
        for name in CLASSES:
            self.assertEqual(self.bus.owner_pid(connection, "OrvelWddx." + name), pid)
        second = create(connection, "Tarvik")
        tarvik.Release(dbus_interface="OrvelWddx.Object")
        time.sleep(0.3)
        self.assertTrue(alive(pid))
        second.Release(dbus_interface="OrvelWddx.Object")
        wait_gone(pid)
        self.assertFalse(connection.name_has_owner("OrvelWddx.Tarvik"))
        # The next call starts a fresh process.
        create(connection, "Tarvik")
        self.assertNotEqual(self.bus.owner_pid(connection, "OrvelWddx.Tarvik"), pid)

    def test_a_creation_right_after_the_last_release_is_served(self):
        # The ending process either still serves it or a new one starts; the client never sees a failure.
        connection = self.bus.connect()
        for _ in range(30):
            create(connection, "Tarvik").Release(dbus_interface="OrvelWddx.Object")
        last = create(connection, "Tarvik")
        last.Get("OrvelWddx.ITarvik", "Result", dbus_interface="org.freedesktop.DBus.Properties")
        pid = self.bus.owner_pid(connection, "OrvelWddx.Tarvik")
        last.Release(dbus_interface="OrvelWddx.Object")
        wait_gone(pid)

    def test_a_client_leaving_the_bus_releases_its_objects(self):
        watcher = self.bus.connect()
        client = self.bus.connect()
        for name in CLASSES:
            create(client, name)
        pid = self.bus.owner_pid(watcher, "OrvelWddx.Tarvik")
        client.close()
        wait_gone(pid)

    def test_two_clients_get_independent_objects_in_one_process(self):
        settings = {"Tarvik": ("OrvelWddx.ITarvik", "SSLMode"), "Address": ("OrvelWddx.IAddress", "Rewrite")}
        for name in ("Address", "Tarvik"):
            with self.subTest(name):
                interface, setting = settings[name]
                first, second = self.bus.connect(), self.bus.connect()
                one, other = create(first, name), create(second, name)
                self.assertNotEqual(one.object_path, other.object_path)
                self.assertEqual(self.bus.owner_pid(first, "OrvelWddx." + name),
                                 self.bus.owner_pid(second, "OrvelWddx." + name))
                one.Set(interface, setting, 2, signature="ssv", dbus_interface="org.freedesktop.DBus.Properties")
                self.assertEqual(other.Get(interface, setting, dbus_interface="org.freedesktop.DBus.Properties"), 0)
                self.assertEqual(one.Get(interface, setting, dbus_interface="org.freedesktop.DBus.Properties"), 2)
                first.close()
                second.close()

    def test_an_automation_start_that_never_gets_an_object_ends(self):
        server = self.bus.start("-Embedding")
        self.assertEqual(server.wait(30), 0)

    def test_a_start_by_a_client_never_opens_the_desktop_s_display(self):
        # A display that nothing serves: a start that opened it would end before answering.
        bus = PrivateBus(DISPLAY=":97", QT_QPA_PLATFORM="")
        self.addCleanup(bus.close)
        self.assertEqual(bus.run("-RegServer").returncode, 0)
        tarvik = create(bus.connect(), "Tarvik")
        self.assertEqual(tarvik.Get("OrvelWddx.ITarvik", "Result", dbus_interface="org.freedesktop.DBus.Properties"), 0)

    def test_a_standalone_start_outlives_its_last_object(self):
        server = self.bus.start()
        connection = self.bus.connect()
        wait_until(lambda: connection.name_has_owner("OrvelWddx.Tarvik"), 10, "the server owns its names")
        create(connection, "Tarvik").Release(dbus_interface="OrvelWddx.Object")
        time.sleep(0.5)
        self.assertIsNone(server.poll())
        self.assertEqual(self.bus.owner_pid(connection, "OrvelWddx.Tarvik"), server.pid)
        server.terminate()
        server.wait(10)


if __name__ == "__main__":
    unittest.main()
