"""OrvelWddx.Checks.Confirm on /OrvelWddx/UStID against the local service's offline answers, from another process."""

import os
import stat
import subprocess
import unittest

import dbus

from orvelbus import LocalService, PrivateBus

CHECK = os.environ["ORVELWDDX_CHECK"]


class ConfirmTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # The first confirmation meets a busy service and has to ask again.
        service = LocalService("--busy-answers", "1")
        cls.addClassCleanup(service.close)
        base = "http://" + service.host
        cls.bus = PrivateBus(ORVELWDDX_VIES_URL=base + "/taxation_customs/vies/services/checkVatService",
                             ORVELWDDX_BZST_URL=base + "/app/v1/abfrage")
        cls.addClassCleanup(cls.bus.close)
        result = cls.bus.run("-RegServer")
        assert result.returncode == 0, result.stderr

    def confirm(self, vat_id, options):
        connection = self.bus.connect()
        checks = connection.get_object("OrvelWddx.UStID", "/OrvelWddx/UStID", introspect=False)
        return checks.Confirm(vat_id, dbus.Dictionary(options, signature="sv"), dbus_interface="OrvelWddx.Checks",
                              signature="sa{sv}", timeout=120)

    def test_both_services_answer_and_are_journaled(self):
        vies = self.confirm("ATU13585627", {"OwnVatId": "DE136695976", "Name": "Muster", "City": "Wien"})
        self.assertEqual(vies["Status"], "valid")
        self.assertEqual(vies["Qualified"], True)
        self.assertEqual(vies["Service"], "vies")
        self.assertEqual(dict(vies["Matches"]), {"Name": "3", "City": "3"})
        self.assertEqual(vies["Matches"].signature, "ss")
        self.assertTrue(vies["RequestId"].startswith("LOKAL"), vies["RequestId"])
        self.assertEqual(int(vies["Tries"]), 2, "the busy answer was asked again")
        bzst = self.confirm("ATU13585627", {"OwnVatId": "DE136695976", "Name": "Muster", "City": "Wien",
                                            "Service": "bzst", "Tries": dbus.Int32(1)})
        self.assertEqual(bzst["Status"], "valid")
        self.assertEqual(bzst["Message"], "Die angefragte USt-IdNr. ist zum Anfragezeitpunkt gültig.")
        self.assertEqual(dict(bzst["Matches"]), {"Name": "D", "Street": "C", "Zip": "C", "City": "D"})
        self.assertEqual(int(bzst["JournalId"]), int(vies["JournalId"]) + 1)
        german = self.confirm("DE136695976", {"OwnVatId": "DE136695976", "Service": "bzst"})
        self.assertEqual(german["Status"], "not-checked")

        journal = os.path.join(self.bus.data, "OrvelWddx", "journal.sqlite")
        self.assertEqual(stat.S_IMODE(os.stat(journal).st_mode), 0o600)
        listed = subprocess.run([CHECK, "journal", "--vat", "ATU13585627"], env=self.bus.env, capture_output=True,
                                text=True, timeout=60)
        self.assertEqual(listed.returncode, 0, listed.stderr)
        self.assertIn("request_id: " + vies["RequestId"], listed.stdout)
        self.assertIn("request_id: " + bzst["RequestId"], listed.stdout)

    def test_the_command_through_the_bus(self):
        completed = subprocess.run([CHECK, "--bus", "vat-confirm", "ATU13585628", "--own", "DE136695976", "--bzst"],
                                   env=self.bus.env, capture_output=True, text=True, timeout=120)
        self.assertEqual(completed.returncode, 1, completed.stderr)
        self.assertIn("Status: invalid\n", completed.stdout)
        self.assertIn("Service: bzst\n", completed.stdout)

    def test_refused_own_ids_and_foreign_countries_leave_the_journal_alone(self):
        before = self.confirm("ATU13585627", {"OwnVatId": "DE136695976", "Service": "bzst", "Tries": dbus.Int32(1)})
        self.assertEqual(before["Qualified"], False, "no name, no place: the simple question")
        for own, said in [("", "Die eigene USt-IdNr. fehlt"), ("  ", "Die eigene USt-IdNr. fehlt"),
                          ("DE136695977", "Die eigene USt-IdNr. DE136695977 hat eine falsche Prüfziffer.")]:
            with self.subTest(own=own):
                with self.assertRaises(dbus.DBusException) as raised:
                    self.confirm("ATU13585627", {"OwnVatId": own, "Name": "Muster", "City": "Wien"})
                self.assertEqual(raised.exception.get_dbus_name(), "org.freedesktop.DBus.Error.InvalidArgs")
                self.assertIn(said, raised.exception.get_dbus_message())
        outside = self.confirm("GB123456789", {"OwnVatId": "DE136695976"})
        self.assertEqual(outside["Status"], "invalid")
        self.assertEqual(outside["Message"], "kein EU-Mitgliedstaat: VIES prüft nur USt-IdNrn. der "
                                             "EU-Mitgliedstaaten und Nordirlands (XI)")
        self.assertEqual(int(outside["JournalId"]), 0)
        after = self.confirm("ATU13585627", {"OwnVatId": "DE136695976", "Service": "bzst", "Tries": dbus.Int32(1)})
        self.assertEqual(int(after["JournalId"]), int(before["JournalId"]) + 1, "nothing journaled in between")

    def test_bad_options_name_the_option(self):
        for options, named in [({"Colour": "blau"}, "Colour"), ({"Service": "elster"}, "Service"),
                               ({"Tries": "3"}, "Tries")]:
            with self.subTest(options=options):
                with self.assertRaises(dbus.DBusException) as raised:
                    self.confirm("ATU13585627", options)
                self.assertEqual(raised.exception.get_dbus_name(), "org.freedesktop.DBus.Error.InvalidArgs")
                self.assertIn(named, raised.exception.get_dbus_message())

    def test_introspection_names_confirm(self):
        completed = subprocess.run(["gdbus", "introspect", "--session", "-d", "OrvelWddx.UStID", "-o",
                                    "/OrvelWddx/UStID"], env=self.bus.env, capture_output=True, text=True, timeout=60)
        self.assertEqual(completed.returncode, 0, completed.stderr)
        self.assertIn("Confirm(in  s VatId,", completed.stdout)


if __name__ == "__main__":
    unittest.main()
