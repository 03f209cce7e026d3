"""OrvelWddx.Checks, the one-call checks on the class objects, from clients nobody here wrote: gdbus and busctl."""

import csv
import io
import json
import os
import re
import subprocess
import unittest

from orvelbus import VIES_PATH, FixtureBusTest, wddx

ACCOUNT_REPLY = wddx(result="0", resulttext="IBAN gültig", bankname="Commerzbank Köln", newblz="", iban="DE89",
                     bic="COBADEFFXXX", bicname="Commerzbank", bicsct="1", bicsdd="1", bicb2b="0")
SEARCH_REPLY = wddx(banken=["37040044|COBADEFFXXX|Commerzbank|50447|Köln", "37050198|COLSDE33|Sparkasse|50667|Köln"])
ADDRESS_REPLY = wddx(result="4", resulttext="Mehrere Orte", rewritten="Köln", str46="Hauptstraße", str22="Hauptstr.",
                     ortsteil="Mitte", plzout="50667", orte=["Köln", "Köln-Deutz"])

ACCOUNT = {"Result": 0, "Resulttext": "IBAN gültig", "BankName": "Commerzbank Köln", "NewBlz": "", "Iban": "DE89",
           "Bic": "COBADEFFXXX"}
BIC = {"BicName": "Commerzbank", "BicSct": 1, "BicSdd": 1, "BicB2b": 0}
ADDRESS = {"Result": 4, "Resulttext": "Mehrere Orte", "Rewritten": "Köln", "Str46": "Hauptstraße",
           "Str22": "Hauptstr.", "Ortsteil": "Mitte", "PlzOut": "50667", "Orte": ["Köln", "Köln-Deutz"], "AlteOrte": []}

# Class, method, busctl signature and arguments before the options, the dictionary the call answers, the request.
CASES = [
    ("Tarvik", "TestBlzKto", "sssssis", ["u", "p", "37040044", "532013000", "DE", "7", "Nord"], ACCOUNT,
     "/tarvik?un=u&pw=p&blz=37040044&kto=532013000&c=DE&id=7&name=Nord"),
    ("Tarvik", "TestIban", "sssis", ["u", "p", "DE89370400440532013000", "0", ""], ACCOUNT,
     "/tarvik?un=u&pw=p&iban=DE89370400440532013000&id=0&name="),
    ("Tarvik", "TestIbanBic", "ssssis", ["u", "p", "DE89", "COBADEFFXXX", "0", ""], {**ACCOUNT, **BIC},
     "/tarvik?un=u&pw=p&iban=DE89&bic=COBADEFFXXX&id=0&name="),
    ("Tarvik", "TestBic", "sss", ["u", "p", "COBADEFFXXX"], {"Result": 0, "Resulttext": "", **BIC},
     "/tarvik?un=u&pw=p&bic=COBADEFFXXX"),
    ("Tarvik", "TestCc", "sss", ["u", "p", "4111111111111111"],
     {"Result": 0, "Resulttext": "IBAN gültig", "BankName": "", "NewBlz": ""}, "/tarvik?un=u&pw=p&cc=4111111111111111"),
    ("Tarvik", "Search", "ssssi", ["u", "p", "Köln", "DE", "1"],
     {"Result": 2, "Resulttext": "", "Banken": ["37040044|COBADEFFXXX|Commerzbank|50447|Köln",
                                                "37050198|COLSDE33|Sparkasse|50667|Köln"]}, None),
    ("Address", "Check", "ssss", ["u", "p", "50667", "Köln"], ADDRESS, None),
    ("Address", "CheckStr", "sssss", ["u", "p", "50667", "Köln", "Hauptstr."], ADDRESS, None),
    ("Address", "CheckStrHnr", "ssssss", ["u", "p", "50667", "Köln", "Hauptstr.", "1"], ADDRESS, None),
    ("Address", "CheckPof", "sssss", ["u", "p", "50667", "Köln", "1234"], ADDRESS, None),
    ("Address", "GetPlzType", "sss", ["u", "p", "50667"], {"Result": 4, "Resulttext": "Mehrere Orte"},
     "/address?un=u&func=type&pw=p&plz=50667"),
    ("UStID", "Check", "s", ["DE123456789"], {"Result": 0, "Resulttext": "Die USt-IdNr. ist gültig."}, VIES_PATH),
]


class ChecksTest(FixtureBusTest):
    REPLIES = {"/tarvik": ACCOUNT_REPLY, "/address": ADDRESS_REPLY}

    def tool(self, *args):
        return subprocess.run(args, env=self.bus.env, capture_output=True, text=True, timeout=60)

    def busctl(self, name, method, signature, args, options):
        """busctl call with the options as (name, type, value) triples; returns the answer or the failure."""
        flat = [str(len(options))] + [str(part) for option in options for part in option]
        return self.tool("busctl", "--address=" + self.bus.address, "--json=short", "call", "OrvelWddx." + name,
                         "/OrvelWddx/" + name, "OrvelWddx.Checks", method, signature + "a{sv}", *args, *flat)

    def answer(self, completed):
        self.assertEqual(completed.returncode, 0, completed.stderr)
        values = json.loads(completed.stdout)["data"][0]
        return {key: value["data"] for key, value in values.items()}

    def test_each_operation_answers_what_it_writes(self):
        for name, method, signature, args, expected, request in CASES:
            with self.subTest(method=name + "." + method):
                if method == "Search":
                    self.fixture.replies["/tarvik"] = SEARCH_REPLY
                self.fixture.requests.clear()
                completed = self.busctl(name, method, signature, args, [("Host", "s", self.fixture.host)]
                                        if name != "UStID" else [])
                answer = self.answer(completed)
                if name == "UStID":
                    expected = dict(expected, Resulttext=answer["Resulttext"])
                self.assertEqual(answer, expected)
                self.assertEqual(len(self.fixture.requests), 1)
                if request:
                    self.assertEqual(self.fixture.requests[0], request)

    def test_gdbus_one_liner(self):
        completed = self.tool("gdbus", "call", "--session", "-d", "OrvelWddx.Tarvik", "-o", "/OrvelWddx/Tarvik", "-m",
                              "OrvelWddx.Checks.TestIban", "u", "p", "DE89370400440532013000", "0", "",
                              "{'Host': <'%s'>, 'Timeout': <5000>}" % self.fixture.host)
        self.assertEqual(completed.returncode, 0, completed.stderr)
        self.assertIn("'Result': <0>", completed.stdout)
        self.assertIn("'BankName': <'Commerzbank Köln'>", completed.stdout)
        self.fixture.replies["/tarvik"] = SEARCH_REPLY
        completed = self.tool("gdbus", "call", "--session", "-d", "OrvelWddx.Tarvik", "-o", "/OrvelWddx/Tarvik", "-m",
                              "OrvelWddx.Checks.Search", "u", "p", "Köln", "DE", "0",
                              "{'Host': <'%s'>}" % self.fixture.host)
        self.assertEqual(completed.returncode, 0, completed.stderr)
        self.assertIn("'Banken': <['37040044|COBADEFFXXX|Commerzbank|50447|Köln', '37050198|", completed.stdout)

    def test_options_take_effect(self):
        # Through a proxy: the fixture serves as one and sees the absolute address of a host that does not exist.
        answer = self.answer(self.busctl("Tarvik", "TestBic", "sss", ["u", "p", "COBADEFFXXX"],
                                         [("Host", "s", "checks.invalid:81"), ("Proxy", "s", self.fixture.host),
                                          ("ProxyUser", "s", "pu"), ("ProxyPass", "s", "pp")]))
        self.assertEqual(answer["BicName"], "Commerzbank")
        self.assertEqual(self.fixture.requests, ["http://checks.invalid:81/tarvik?un=u&pw=p&bic=COBADEFFXXX"])
        # The rewrite mode travels with the address check.
        self.fixture.requests.clear()
        self.answer(self.busctl("Address", "Check", "ssss", ["u", "p", "50667", "Köln"],
                                [("Host", "s", self.fixture.host), ("Rewrite", "i", "2")]))
        self.assertIn("&rewrite=2", self.fixture.requests[0])
        # HTTPS against the plain fixture fails: the mode was set.
        answer = self.answer(self.busctl("Tarvik", "TestIban", "sssis", ["u", "p", "DE89", "0", ""],
                                         [("Host", "s", self.fixture.host), ("SSLMode", "i", "2"),
                                          ("Timeout", "i", "3000")]))
        self.assertEqual(answer["Result"], -200)

    def test_bad_options_name_the_option(self):
        cases = [
            ("Tarvik", "'Colour': <'blau'>", "Colour"),
            ("Tarvik", "'Timeout': <'5000'>", "Timeout"),
            ("Tarvik", "'Host': <1>", "Host"),
            ("Tarvik", "'Rewrite': <1>", "Rewrite"),
            ("Tarvik", "'Proxy': <'no-port'>", "Proxy"),
            ("UStID", "'Host': <'127.0.0.1:1'>", "Host"),
        ]
        for name, options, named in cases:
            with self.subTest(options=options, name=name):
                args = ["Check", "DE1"] if name == "UStID" else ["TestBic", "u", "p", "X"]
                completed = self.tool("gdbus", "call", "--session", "-d", "OrvelWddx." + name, "-o",
                                      "/OrvelWddx/" + name, "-m", "OrvelWddx.Checks." + args[0], *args[1:],
                                      "{%s}" % options)
                self.assertNotEqual(completed.returncode, 0)
                self.assertIn("org.freedesktop.DBus.Error.InvalidArgs", completed.stderr)
                self.assertIn(named, completed.stderr)
        self.assertEqual(self.fixture.requests, [])

    def test_the_command_through_the_bus(self):
        command = os.environ["ORVELWDDX_CHECK"]
        completed = self.tool(command, "--bus", "--json", "--host", self.fixture.host, "--user", "u", "iban", "DE89")
        self.assertEqual(completed.returncode, 0, completed.stderr)
        self.assertEqual(json.loads(completed.stdout), ACCOUNT)
        completed = subprocess.run([command, "--bus", "--jobs", "2", "--host", self.fixture.host, "batch", "-"],
                                   input="iban,vat\nDE1,\n,ATU12345678\n", env=self.bus.env, capture_output=True,
                                   text=True, timeout=60)
        self.assertEqual(completed.returncode, 0, completed.stderr)
        rows = list(csv.reader(io.StringIO(completed.stdout, newline="")))
        # Account and VAT id columns in one file: each kind of check has result columns of its own.
        self.assertEqual(rows[0], ["iban", "vat", "vat_Result", "vat_Resulttext", "iban_Result", "iban_Resulttext",
                                   "iban_BankName", "iban_NewBlz", "iban_Iban", "iban_Bic", "Error"])
        self.assertEqual(rows[1], ["DE1", "", "", "", "0", "IBAN gültig", "Commerzbank Köln", "", "DE89", "COBADEFFXXX",
                                   ""])
        self.assertEqual(rows[2][:3], ["", "ATU12345678", "0"])
        self.assertIn("Müller GmbH~Hauptstraße 1\n12345 Berlin", rows[2][3])
        # A server that is not there is status 3.
        completed = subprocess.run([command, "--bus", "iban", "DE89"], env=dict(self.bus.env,
                                   DBUS_SESSION_BUS_ADDRESS="unix:path=/nonexistent"), capture_output=True, text=True,
                                   timeout=60)
        self.assertEqual(completed.returncode, 3, completed.stderr)

    def test_nothing_outlives_the_call_and_the_object_interfaces_stay(self):
        self.answer(self.busctl("Tarvik", "TestBic", "sss", ["u", "p", "X"], [("Host", "s", self.fixture.host)]))
        completed = self.tool("gdbus", "introspect", "--session", "-d", "OrvelWddx.Tarvik", "-o", "/OrvelWddx/Tarvik")
        self.assertEqual(completed.returncode, 0, completed.stderr)
        self.assertIn("interface OrvelWddx.ClassFactory", completed.stdout)
        self.assertIn("TestIban(in  s aUser,", completed.stdout)
        self.assertNotRegex(completed.stdout, re.compile(r"node \d+"))
        # Unknown methods of the interface are the standard error.
        completed = self.busctl("Tarvik", "SetProxy", "siss", ["h", "1", "", ""], [])
        self.assertNotEqual(completed.returncode, 0)


if __name__ == "__main__":
    unittest.main()
