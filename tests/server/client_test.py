"""A client in another process: typed calls, properties and late binding against the fixture service, and bad input
that must get an error and never stop the server."""

import os
import subprocess
import unittest
import xml.etree.ElementTree as ElementTree

import dbus
import dbus.lowlevel

from orvelbus import (ERROR, INTERFACE_OF, PROBE, TABLES, VIES_PATH, Fixture, PrivateBus, alive, create, invoke,
                      members, wait_until, wddx)

ACCOUNT_REPLY = wddx(result="0", resulttext="Konto gültig", bankname="Sparkasse Köln", newblz="", iban="DE12",
                     bic="COLSDE33", bicname="Sparkasse KölnBonn", bicsct="1", bicsdd="0", bicb2b="$1F")
SEARCH_REPLY = wddx(banken=["37050198|Sparkasse KölnBonn|Köln", "37040044|Commerzbank|Köln"])
ADDRESS_REPLY = wddx(result="4", resulttext="Mehrere Orte", rewritten="Gro&amp;szlig;stadt", str46="Hauptstraße",
                     str22="Hauptstr.", ortsteil="Mitte", plzout="12345", orte=["Großstadt", "Kleinstadt"])


class ClientTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.fixture = Fixture({"/tarvik": ACCOUNT_REPLY, "/address": ADDRESS_REPLY})
        cls.addClassCleanup(cls.fixture.close)
        cls.bus = PrivateBus(ORVELWDDX_VIES_URL="http://%s%s" % (cls.fixture.host, VIES_PATH))
        cls.addClassCleanup(cls.bus.close)
        result = cls.bus.run("-RegServer")
        assert result.returncode == 0, result.stderr

    def setUp(self):
        self.fixture.requests.clear()
        self.fixture.replies["/tarvik"] = ACCOUNT_REPLY
        self.connection = self.bus.connect()
        self.addCleanup(self.connection.close)

    def assertFails(self, name, call, *args, **kwargs):
        with self.assertRaises(dbus.DBusException) as failure:
            call(*args, **kwargs)
        self.assertEqual(failure.exception.get_dbus_name(), name, failure.exception.get_dbus_message())
        return failure.exception.get_dbus_message()

    def test_typed_methods_and_properties(self):
        tarvik = create(self.connection, "Tarvik")
        checks = dbus.Interface(tarvik, "OrvelWddx.ITarvik")
        properties = dbus.Interface(tarvik, "org.freedesktop.DBus.Properties")
        properties.Set("OrvelWddx.ITarvik", "Host", self.fixture.host, signature="ssv")
        properties.Set("OrvelWddx.ITarvik", "Timeout", 5000, signature="ssv")

        checks.TestBlzKto("kunde", "geheim", "37050198", "1234567", "DE", -1, "Bäckerei Nord")
        self.assertEqual(self.fixture.requests[-1],
                         "/tarvik?un=kunde&pw=geheim&blz=37050198&kto=1234567&c=DE&id=-1&name=B%E4ckerei+Nord")
        values = properties.GetAll("OrvelWddx.ITarvik")
        self.assertEqual(values["Result"], 0)
        self.assertEqual(values["Resulttext"], "Konto gültig")
        self.assertEqual(values["BankName"], "Sparkasse Köln")
        self.assertEqual(values["Bic"], "COLSDE33")
        self.assertEqual(values["Host"], self.fixture.host)
        self.assertEqual(values["Timeout"], 5000)
        self.assertEqual(values["BicName"], "")

        checks.TestBic("kunde", "geheim", "COLSDE33")
        self.assertEqual(properties.Get("OrvelWddx.ITarvik", "BicName"), "Sparkasse KölnBonn")
        self.assertEqual(properties.Get("OrvelWddx.ITarvik", "BicB2b"), 0x1F)

        self.fixture.replies["/tarvik"] = "kein WDDX"
        checks.TestCc("kunde", "geheim", "4111111111111111")
        self.assertEqual(properties.Get("OrvelWddx.ITarvik", "Result"), -300)
        self.assertEqual(properties.Get("OrvelWddx.ITarvik", "Iban"), "DE12")

        self.fixture.replies["/tarvik"] = SEARCH_REPLY
        checks.Search("kunde", "geheim", "Köln", "DE", 1)
        self.assertEqual(self.fixture.requests[-1], "/tarvik?un=kunde&pw=geheim&search=K%F6ln&c=DE&fragments=1")
        self.assertEqual(properties.Get("OrvelWddx.ITarvik", "Result"), 2)
        self.assertEqual([checks.Banken(i) for i in range(4)],
                         ["2", "37050198|Sparkasse KölnBonn|Köln", "37040044|Commerzbank|Köln", ""])
        self.assertEqual(properties.Get("OrvelWddx.ITarvik", "BankenString"),
                         "2~37050198|Sparkasse KölnBonn|Köln~37040044|Commerzbank|Köln")

        properties.Set("OrvelWddx.ITarvik", "SSLMode", 2, signature="ssv")
        self.assertEqual(properties.Get("OrvelWddx.ITarvik", "SSLMode"), 2)
        tarvik.Release(dbus_interface="OrvelWddx.Object")

    def test_address_check(self):
        address = create(self.connection, "Address")
        check = dbus.Interface(address, "OrvelWddx.IAddress")
        properties = dbus.Interface(address, "org.freedesktop.DBus.Properties")
        properties.Set("OrvelWddx.IAddress", "Host", self.fixture.host, signature="ssv")
        properties.Set("OrvelWddx.IAddress", "Rewrite", 2, signature="ssv")
        check.CheckStrHnr("kunde", "geheim", "12345", "Bad Ort", "Hauptstraße", "1a")
        self.assertEqual(self.fixture.requests[-1], "/address?un=kunde&pw=geheim&func=check&plz=12345&ort=Bad+Ort"
                                                    "&str=Hauptstra%DFe&hnr=1a&rewrite=2")
        values = properties.GetAll("OrvelWddx.IAddress")
        self.assertEqual({name: values[name] for name in ("Result", "Rewritten", "Str46", "PlzOut", "OrteString")},
                         {"Result": 4, "Rewritten": "Großstadt", "Str46": "Hauptstraße", "PlzOut": "12345",
                          "OrteString": "2~Großstadt~Kleinstadt"})
        self.assertEqual([check.Orte(i) for i in (0, 2, 3)], ["2", "Kleinstadt", ""])
        self.assertEqual(invoke(address, 207, "get", [1]), "Großstadt")
        self.assertEqual(invoke(address, 210, "get", ["0"]), "")
        address.Release(dbus_interface="OrvelWddx.Object")

    def test_get_ids_of_names_gives_the_dispids_of_the_tables(self):
        for name, interface in INTERFACE_OF.items():
            with self.subTest(name):
                instance = create(self.connection, name)
                dispatch = dbus.Interface(instance, "OrvelWddx.Dispatch")
                for member, dispid in members(interface):
                    self.assertEqual(dispatch.GetIDsOfNames([member]), [dispid])
                    self.assertEqual(dispatch.GetIDsOfNames([member.upper()]), [dispid])
                self.assertEqual(list(dispatch.GetIDsOfNames(["setproxy", "APORT", "aProxy"])),
                                 [{"ITarvik": 202, "IAddress": 204, "IUStID": 204}[interface], 1, 0])
                self.assertFails(ERROR + "DISP_E_UNKNOWNNAME", dispatch.GetIDsOfNames, ["Gibtsnicht"])
                instance.Release(dbus_interface="OrvelWddx.Object")

    def test_late_bound_invoke(self):
        tarvik = create(self.connection, "Tarvik")
        self.assertEqual(invoke(tarvik, 206, "putref", [2]), "")
        self.assertEqual(invoke(tarvik, 206, "get", []), 2)
        self.assertEqual(invoke(tarvik, 206, "put", [0]), "")
        self.assertEqual(invoke(tarvik, 212, "put", [self.fixture.host]), "")
        # Texts for numbers and numbers for texts, as the runtime converts them.
        self.assertEqual(invoke(tarvik, 213, "put", ["750"]), "")
        self.assertEqual(invoke(tarvik, 213, "get", []), 750)
        invoke(tarvik, 201, "method", ["kunde", "geheim", 37050198, "1234567", "DE", "7", "Name"])
        self.assertTrue(self.fixture.requests[-1].startswith("/tarvik?un=kunde&pw=geheim&blz=37050198&kto=1234567"))
        self.assertEqual(invoke(tarvik, 204, "get", []), "Konto gültig")
        # A method without a value answers empty text.
        self.assertEqual(invoke(tarvik, 202, "method", ["", 0]), "")
        tarvik.Release(dbus_interface="OrvelWddx.Object")

    def test_vat_id_check(self):
        vat = create(self.connection, "UStID")
        check = dbus.Interface(vat, "OrvelWddx.IUStID")
        properties = dbus.Interface(vat, "org.freedesktop.DBus.Properties")
        self.assertEqual(properties.GetAll("OrvelWddx.IUStID"), {"Result": 0, "Resulttext": "", "Timeout": 0})
        properties.Set("OrvelWddx.IUStID", "Timeout", 4000, signature="ssv")
        check.SetProxy("", 0, "", "")
        check.Check("de 123 456 789")
        self.assertEqual(self.fixture.requests[-1], VIES_PATH)
        self.assertEqual(properties.GetAll("OrvelWddx.IUStID"), {
            "Result": 0, "Resulttext": "DE~123456789~2024-05-17+02:00~True~Müller GmbH~Hauptstraße 1\n12345 Berlin",
            "Timeout": 4000})
        self.assertEqual(invoke(vat, 201, "method", ["AT U1"]), "")
        self.assertEqual(invoke(vat, 203, "get", []).split("~")[:2], ["AT", "U1"])
        vat.Release(dbus_interface="OrvelWddx.Object")

    def test_set_proxy_late_bound_with_proxy_and_port_only(self):
        # User and password are optional on the WDDX objects and required on the VAT object.
        vat = create(self.connection, "UStID")
        self.assertFails(ERROR + "DISP_E_PARAMNOTOPTIONAL", invoke, vat, 204, "method", ["127.0.0.1", 3128])
        self.assertEqual(invoke(vat, 204, "method", ["127.0.0.1", 3128, "", ""]), "")
        for name, dispid in (("Tarvik", 202), ("Address", 204)):
            self.assertEqual(invoke(create(self.connection, name), dispid, "method", ["127.0.0.1", 3128]), "")

    def test_an_error_escaping_a_member_arrives_with_its_description(self):
        probe_server = self.bus.start("-Embedding", program=PROBE)
        wait_until(lambda: self.connection.name_has_owner("OrvelProbe.Probe"), 10, "the probe owns its name")
        factory = self.connection.get_object("OrvelProbe.Probe", "/OrvelProbe/Probe", introspect=False)
        probe = self.connection.get_object("OrvelProbe.Probe", factory.CreateInstance(), introspect=False)
        message = self.assertFails(ERROR + "E_UNEXPECTED", probe.Fail, "Grüße gescheitert",
                                   dbus_interface="OrvelProbe.IProbe")
        self.assertEqual(message, "Grüße gescheitert")
        message = self.assertFails(ERROR + "E_UNEXPECTED", invoke, probe, 201, "method", ["Späte Bindung"])
        self.assertEqual(message, "Späte Bindung")
        # An error carrying its own failure code keeps it.
        self.assertFails(ERROR + "E_FAIL", probe.FailCode, dbus.Int32(-2147467259), dbus_interface="OrvelProbe.IProbe")
        probe.Release(dbus_interface="OrvelWddx.Object")
        self.assertEqual(probe_server.wait(10), 0)

    def test_bad_input_gets_an_error_and_the_server_goes_on(self):
        tarvik = create(self.connection, "Tarvik")
        pid = self.bus.owner_pid(self.connection, "OrvelWddx.Tarvik")
        checks = dbus.Interface(tarvik, "OrvelWddx.ITarvik")
        dispatch = dbus.Interface(tarvik, "OrvelWddx.Dispatch")
        properties = dbus.Interface(tarvik, "org.freedesktop.DBus.Properties")
        invalid, unknown_object = "org.freedesktop.DBus.Error.InvalidArgs", "org.freedesktop.DBus.Error.UnknownObject"
        text = dbus.String
        cases = [
            (invalid, checks.TestCc, ("a", "b")),
            (invalid, checks.TestCc, (text("a"), text("b"), dbus.Int32(3))),
            (invalid, checks.TestBlzKto, ("a",) * 8),
            (invalid, checks.Banken, ("eins",)),
            (ERROR + "DISP_E_PARAMNOTOPTIONAL", invoke, (tarvik, 208, "method", ["a", "b"])),
            (ERROR + "DISP_E_BADPARAMCOUNT", invoke, (tarvik, 202, "method", ["p", 1, "u", "p", "zu viel"])),
            (ERROR + "DISP_E_BADPARAMCOUNT", invoke, (tarvik, 203, "get", [1])),
            (ERROR + "DISP_E_TYPEMISMATCH", invoke, (tarvik, 202, "method", ["p", "acht"])),
            (ERROR + "DISP_E_TYPEMISMATCH", invoke, (tarvik, 202, "method", ["p", dbus.Array([1], signature="i")])),
            (ERROR + "DISP_E_TYPEMISMATCH", invoke, (tarvik, 202, "method", ["p", dbus.ObjectPath("/p")])),
            (ERROR + "DISP_E_OVERFLOW", invoke, (tarvik, 202, "method", ["p", dbus.Int64(1 << 40)])),
            (ERROR + "DISP_E_MEMBERNOTFOUND", invoke, (tarvik, 999, "method", [])),
            (ERROR + "DISP_E_MEMBERNOTFOUND", invoke, (tarvik, 203, "put", [1])),
            (ERROR + "E_INVALIDARG", invoke, (tarvik, 203, "lesen", [])),
            (ERROR + "E_INVALIDARG", dispatch.GetIDsOfNames, (dbus.Array([], signature="s"),)),
            (invalid, tarvik.Invoke, (dbus.Int32(203), "get"), {"dbus_interface": "OrvelWddx.Dispatch"}),
            ("org.freedesktop.DBus.Error.PropertyReadOnly", properties.Set, ("OrvelWddx.ITarvik", "Result", 1),
             {"signature": "ssv"}),
            (invalid, properties.Set, ("OrvelWddx.ITarvik", "SSLMode", "zwei"), {"signature": "ssv"}),
            (invalid, properties.Set, ("OrvelWddx.ITarvik", "SSLMode", 2)),
            ("org.freedesktop.DBus.Error.UnknownProperty", properties.Get, ("OrvelWddx.ITarvik", "Gibtsnicht")),
            ("org.freedesktop.DBus.Error.UnknownProperty", properties.Get, ("OrvelWddx.ITarvik", "Banken")),
            ("org.freedesktop.DBus.Error.UnknownInterface", properties.GetAll, ("OrvelWddx.IFremd",)),
            ("org.freedesktop.DBus.Error.UnknownMethod", tarvik.Gibtsnicht, (), {"dbus_interface": "OrvelWddx.ITarvik"}),
        ]
        for name, call, args, *kwargs in cases:
            with self.subTest(name=name, args=args):
                self.assertFails(name, call, *args, **(kwargs[0] if kwargs else {}))

        for path in ("/OrvelWddx/Tarvik/999", "/OrvelWddx/Nichts", "/OrvelWddx/Tarvik/1/2"):
            with self.subTest(path=path):
                stray = self.connection.get_object("OrvelWddx.Tarvik", path, introspect=False)
                self.assertFails(unknown_object, stray.Release, dbus_interface="OrvelWddx.Object")
                self.assertFails(unknown_object, stray.Introspect,
                                 dbus_interface="org.freedesktop.DBus.Introspectable")
        factory = self.connection.get_object("OrvelWddx.Tarvik", "/OrvelWddx/Tarvik", introspect=False)
        self.assertFails(invalid, factory.CreateInstance, "x", dbus_interface="OrvelWddx.ClassFactory")
        self.assertFails("org.freedesktop.DBus.Error.UnknownMethod", factory.Release,
                         dbus_interface="OrvelWddx.Object")
        self.assertTrue(alive(pid))
        self.assertEqual(properties.Get("OrvelWddx.ITarvik", "Result"), 0)
        tarvik.Release(dbus_interface="OrvelWddx.Object")

    def test_only_the_creating_client_may_use_an_object(self):
        tarvik = create(self.connection, "Tarvik")
        properties = dbus.Interface(tarvik, "org.freedesktop.DBus.Properties")
        properties.Set("OrvelWddx.ITarvik", "Host", self.fixture.host, signature="ssv")
        other = self.bus.connect()
        stranger = other.get_object("OrvelWddx.Tarvik", tarvik.object_path, introspect=False)
        denied = "org.freedesktop.DBus.Error.AccessDenied"
        attempts = [
            ("Set", ("OrvelWddx.ITarvik", "Host", "127.0.0.1:1"),
             {"signature": "ssv", "dbus_interface": "org.freedesktop.DBus.Properties"}),
            ("Get", ("OrvelWddx.ITarvik", "Resulttext"), {"dbus_interface": "org.freedesktop.DBus.Properties"}),
            ("GetAll", ("OrvelWddx.ITarvik",), {"dbus_interface": "org.freedesktop.DBus.Properties"}),
            ("TestCc", ("u", "p", "4111"), {"dbus_interface": "OrvelWddx.ITarvik"}),
            ("Invoke", (dbus.Int32(203), "get", dbus.Array([], signature="v")),
             {"dbus_interface": "OrvelWddx.Dispatch"}),
            ("GetIDsOfNames", (["Host"],), {"dbus_interface": "OrvelWddx.Dispatch"}),
            ("Release", (), {"dbus_interface": "OrvelWddx.Object"}),
        ]
        for member, args, kwargs in attempts:
            with self.subTest(member=member):
                self.assertIn(tarvik.object_path,
                              self.assertFails(denied, getattr(stranger, member), *args, **kwargs))
        self.assertEqual(self.fixture.requests, [])
        # Looking is open to all, and so are the class objects.
        self.assertIn("OrvelWddx.ITarvik", stranger.Introspect(dbus_interface="org.freedesktop.DBus.Introspectable"))
        own = create(other, "Tarvik")
        own.Release(dbus_interface="OrvelWddx.Object")
        other.close()

        self.assertEqual(properties.Get("OrvelWddx.ITarvik", "Host"), self.fixture.host)
        tarvik.Release(dbus_interface="OrvelWddx.Object")

    def test_a_client_leaving_mid_call_loses_its_objects_and_nobody_else_does(self):
        keeper = create(self.connection, "Tarvik")
        pid = self.bus.owner_pid(self.connection, "OrvelWddx.Tarvik")
        leaving = self.bus.connect()
        gone = create(leaving, "Tarvik")
        dbus.Interface(gone, "org.freedesktop.DBus.Properties").Set("OrvelWddx.ITarvik", "Host", self.fixture.host,
                                                                    signature="ssv")
        self.fixture.hold()
        call = dbus.lowlevel.MethodCallMessage("OrvelWddx.Tarvik", gone.object_path, "OrvelWddx.ITarvik", "TestCc")
        call.append("u", "p", "4111", signature="sss")
        leaving.send_message(call)
        leaving.flush()
        wait_until(lambda: self.fixture.requests, 5, "the call reached the service")
        leaving.close()
        self.fixture.release()

        factory = self.connection.get_object("OrvelWddx.Tarvik", "/OrvelWddx/Tarvik", introspect=False)

        def children():
            node = ElementTree.fromstring(factory.Introspect(dbus_interface="org.freedesktop.DBus.Introspectable"))
            return [child.get("name") for child in node.findall("node")]

        wait_until(lambda: len(children()) == 1, 5, "one object left under the class object")
        self.assertEqual(children(), [keeper.object_path.rsplit("/", 1)[1]])
        self.assertEqual(keeper.Get("OrvelWddx.ITarvik", "Result", dbus_interface="org.freedesktop.DBus.Properties"), 0)
        self.assertTrue(alive(pid))
        keeper.Release(dbus_interface="OrvelWddx.Object")

    def test_busctl_shows_the_interface_as_the_table(self):
        # busctl is a client of its own: it may look at another client's object, but not read its values.
        tarvik = create(self.connection, "Tarvik")
        shown = subprocess.run(["busctl", "--user", "--xml-interface", "introspect", "OrvelWddx.Tarvik",
                                tarvik.object_path], env=self.bus.env, capture_output=True, text=True, timeout=30)
        self.assertEqual(shown.returncode, 0, shown.stderr)
        interface = ElementTree.fromstring(shown.stdout).find("interface[@name='OrvelWddx.ITarvik']")
        rows = {}
        for method in interface.findall("method"):
            rows[method.get("name")] = ("method", "".join(arg.get("type") for arg in method.findall("arg")
                                                           if arg.get("direction") != "out") or "-", False)
        for prop in interface.findall("property"):
            rows[prop.get("name")] = ("property", prop.get("type"), prop.get("access") == "readwrite")
        expected = {}
        for name, _, kind, params, value in TABLES["ITarvik"]:
            if kind == "method":
                expected[name] = ("method", params or "-", False)
            elif kind == "get" and params:
                expected[name] = ("method", params, False)
            elif kind == "get":
                expected[name] = ("property", value, False)
            else:
                expected[name] = ("property", value, True)
        self.assertEqual(rows, expected)
        tarvik.Release(dbus_interface="OrvelWddx.Object")

if __name__ == "__main__":
    unittest.main()
