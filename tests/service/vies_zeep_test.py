"""The VIES WSDL read by zeep, its endpoint pointed at the local service: checkVat as a foreign SOAP client sees it."""

import datetime
import os
import re
import signal
import subprocess
import tempfile
import unittest

from zeep import Client
from zeep.exceptions import Fault

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "../..")
SERVICE = os.environ["ORVELWDDX_SERVICE"]
BINDING = "{urn:ec.europa.eu:taxud:vies:services:checkVat}checkVatBinding"


class ViesZeepTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory(prefix="orvel-vies-")
        env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(cls.dir.name, "config"),
                   XDG_DATA_HOME=os.path.join(cls.dir.name, "data"))
        cls.process = subprocess.Popen([SERVICE, "--listen", "127.0.0.1:0"], env=env, stderr=subprocess.PIPE, text=True)
        log, port = "", None
        for line in cls.process.stderr:
            log += line
            served = re.search(r"serving http 127\.0\.0\.1:0 \(port (\d+)\)", line)
            if served:
                port = int(served.group(1))
                break
        if port is None:
            cls.tearDownClass()
            raise AssertionError("the service did not start:\n" + log)
        client = Client(os.path.join(ROOT, "bench/checkVatService.wsdl"))
        cls.vies = client.create_service(
            BINDING, "http://127.0.0.1:%d/taxation_customs/vies/services/checkVatService" % port)

    @classmethod
    def tearDownClass(cls):
        cls.process.send_signal(signal.SIGTERM)
        cls.process.communicate(timeout=30)
        cls.dir.cleanup()

    def test_valid_and_invalid_ids(self):
        for country, number, valid in (("DE", "136695976", True), ("DE", "136695978", False),
                                       ("FR", "23334175221", True), ("NL", "004495445B01", True),
                                       ("EL", "094259216", True), ("DE", "12345", False),
                                       # the number is the national part: with its country code again it is not
                                       ("DE", "DE136695976", False), ("AT", "ATU13585627", False),
                                       ("BG", "BG175074752", False), ("EL", "EL094259216", False),
                                       ("XI", "XI980780684", False)):
            with self.subTest(country=country, number=number):
                answer = self.vies.checkVat(countryCode=country, vatNumber=number)
                self.assertIs(answer.valid, valid)
                self.assertEqual((answer.countryCode, answer.vatNumber), (country, number))
                self.assertEqual((answer.name, answer.address),
                                 ("---", "Offline-Prüfung: nur Aufbau und Prüfziffer, keine Bestätigung durch die EU"))
                self.assertIsInstance(answer.requestDate, datetime.date)
                self.assertLessEqual(abs((answer.requestDate - datetime.date.today()).days), 1)

    def test_faults_carry_the_vies_fault_strings(self):
        for country, number in (("GB", "123456789"), ("XX", "1"), ("DE", "")):
            with self.subTest(country=country, number=number):
                with self.assertRaises(Fault) as caught:
                    self.vies.checkVat(countryCode=country, vatNumber=number)
                self.assertEqual(caught.exception.message, "INVALID_INPUT")

    def test_approx_answers_without_claiming_a_match(self):
        first = self.vies.checkVatApprox(countryCode="AT", vatNumber="U13585627", traderName="Muster GmbH",
                                         traderCity="Wien", requesterCountryCode="DE", requesterVatNumber="136695976")
        self.assertIs(first.valid, True)
        self.assertEqual((first.traderNameMatch, first.traderCityMatch), ("3", "3"))
        self.assertIsNone(first.traderStreetMatch)
        second = self.vies.checkVatApprox(countryCode="AT", vatNumber="U13585628", requesterCountryCode="DE",
                                          requesterVatNumber="136695976")
        self.assertIs(second.valid, False)
        self.assertNotEqual(first.requestIdentifier, second.requestIdentifier)
        # Without the requester's own id there is no consultation number, as at VIES.
        self.assertIsNone(self.vies.checkVatApprox(countryCode="AT", vatNumber="U13585627").requestIdentifier)


if __name__ == "__main__":
    unittest.main()
