"""The checking page at "/" in a real browser (Debian's chromium, headless, driven by selenium): a check, bad input,
a login through HTTP Basic, keyboard use, and a qualified confirmation asked of a second service standing in for VIES
and read back from the journal with its proof, with no Content-Security-Policy violation on the way. Screenshots go
to the build tree for a person to look at."""
import os
import re
import tempfile
import unittest
import urllib.error
import urllib.request

from selenium import webdriver
from selenium.common.exceptions import TimeoutException
from selenium.webdriver.chrome.service import Service as Driver
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait

from bankfiles import start_service

SERVICE = os.environ["ORVELWDDX_SERVICE"]
SCREENSHOTS = os.environ["ORVEL_SCREENSHOT_DIR"]
USERS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "src", "service", "data",
                     "users.example")
WAIT = 10  # seconds, for every wait on the page
# The window's colours as the browser reports them.
GREEN, RED = "rgba(0, 128, 0, 1)", "rgba(255, 0, 0, 1)"
DARK_RED, AMBER = "rgba(128, 0, 0, 1)", "rgba(160, 90, 0, 1)"
OWN = "DE136695976"
VIES_PATH = "/taxation_customs/vies/services/checkVatService"


def start(test, *options, **settings):
    """orvelwddx-service on a free loopback port with data folders (and so a journal) of its own; its address. No
    confirmation leaves this machine: VIES and the BZSt are loopback addresses unless settings name others."""
    folder = tempfile.TemporaryDirectory(prefix="orvel-page-")
    test.addCleanup(folder.cleanup)
    env = {k: v for k, v in os.environ.items() if not k.startswith("ORVELWDDX_")}
    env.update(dict(XDG_DATA_HOME=folder.name, XDG_CONFIG_HOME=folder.name, ORVELWDDX_VIES_URL="http://127.0.0.1:9/",
                    ORVELWDDX_BZST_URL="http://127.0.0.1:9/"), **settings)
    port, _ = start_service(test, SERVICE, env, *options)
    return "http://127.0.0.1:%d" % port


class CheckPageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        os.makedirs(SCREENSHOTS, exist_ok=True)
        options = webdriver.ChromeOptions()
        for argument in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--window-size=1280,1500",
                         "--lang=de-DE", "--disable-gpu", "--no-first-run"):
            options.add_argument(argument)
        options.add_experimental_option("prefs", {"intl.accept_languages": "de-DE,de"})
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        # The browser's own words and date fields in German, as a German user has them.
        driver = Driver("/usr/bin/chromedriver", env=dict(os.environ, LANG="de_DE.UTF-8", LANGUAGE="de"))
        cls.browser = webdriver.Chrome(service=driver, options=options)
        cls.browser.set_page_load_timeout(WAIT)
        cls.browser.set_script_timeout(WAIT)

    @classmethod
    def tearDownClass(cls):
        cls.browser.quit()

    def setUp(self):
        self.url = start(self)
        self.browser.get_log("browser")  # what earlier tests left

    def tearDown(self):
        # The policy holds: the browser refused nothing the page asked for.
        refused = [entry["message"] for entry in self.browser.get_log("browser")
                   if "Content Security Policy" in entry["message"] or "Refused to" in entry["message"]]
        self.assertEqual(refused, [])

    def open(self, url=None):
        self.browser.get((url or self.url) + "/")
        WebDriverWait(self.browser, WAIT).until(lambda b: b.execute_script("return document.readyState") == "complete")

    def wait(self, condition, what):
        try:
            return WebDriverWait(self.browser, WAIT).until(condition)
        except TimeoutException:
            self.screenshot("timeout-" + what)
            raise AssertionError("no %s within %d s" % (what, WAIT))

    def result_of(self, form):
        """The result of a form once it has one, with its verdict's colour."""
        result = self.browser.find_element(By.CSS_SELECTOR, "form[data-check='%s'] .result" % form)
        self.wait(lambda b: result.get_attribute("class").split()[1:] and "Prüfe" not in result.text, form + " result")
        verdict = result.find_element(By.CSS_SELECTOR, ".verdict")
        # Every detail shown has a value.
        self.assertNotIn("", [value.text for value in result.find_elements(By.TAG_NAME, "dd")], result.text)
        return result, verdict.text, verdict.value_of_css_property("color")

    def screenshot(self, name):
        # What the user just did or was answered stands in the middle of the picture.
        self.browser.execute_script("document.activeElement.scrollIntoView({block: 'center'})")
        self.browser.save_screenshot(os.path.join(SCREENSHOTS, "check-page-%s.png" % name))

    def log_in(self):
        self.wait(lambda b: b.find_element(By.ID, "login").is_displayed(), "login form")
        self.fill({"login-user": "demo", "login-password": "wexo"}).send_keys(Keys.ENTER)
        self.wait(lambda b: not b.find_element(By.ID, "login").is_displayed(), "login accepted")

    def fetched(self, url):
        """Status, type and first bytes of url, asked from the page with its login."""
        return tuple(self.browser.execute_async_script(
            "const [url, done] = arguments;"
            "fetch(url, {headers: headers({Accept: 'application/pdf'}), credentials: 'omit'})"
            ".then(async a => done([a.status, a.headers.get('Content-Type'), (await a.text()).slice(0, 5)]))"
            ".catch(e => done([0, String(e), '']));", url))

    def fill(self, fields):
        for field, value in fields.items():
            element = self.browser.find_element(By.ID, field)
            element.clear()
            element.send_keys(value)
        return element

    def test_checks_answer_in_the_windows_colours(self):
        self.open()
        cases = [  # form, fields, colour, words of the verdict
            ("iban", {"iban-iban": "DE89 3704 0044 0532 0130 00"}, GREEN, "gültig"),
            ("iban", {"iban-iban": "DE89370400440532013001"}, RED, "Prüfziffern falsch"),
            ("account", {"account-bank": "37040044", "account-account": "532013000"}, GREEN, "gültig"),
            ("bic", {"bic-bic": "COBADEFFXXX"}, GREEN, "BIC"),
            ("banks", {"banks-q": "Commerzbank"}, GREEN, "Banken"),
            ("address", {"address-zip": "80331", "address-city": "Muenchen"}, GREEN, "berichtigt"),
            ("address", {"address-zip": "80331", "address-city": "Berlin"}, RED, "nicht im Gebiet"),
            ("vat", {"vat-id": "DE136695976"}, GREEN, ""),
        ]
        for form, fields, colour, words in cases:
            with self.subTest(form=form, fields=fields):
                self.fill(fields).send_keys(Keys.ENTER)
                result, verdict, shown = self.result_of(form)
                self.screenshot(form + ("-passed" if colour == GREEN else "-failed"))
                self.assertIn(words, verdict)
                self.assertEqual(shown, colour, verdict)

    def test_bad_input_is_answered_in_words_not_a_crash(self):
        self.open()
        self.fill({"iban-iban": "kein IBAN ?/#"}).send_keys(Keys.ENTER)
        result, verdict, colour = self.result_of("iban")
        self.assertNotEqual(colour, GREEN, verdict)
        self.assertTrue(verdict.strip(), "no words for the bad input")
        self.screenshot("bad-input")

    def test_the_keyboard_alone_checks_and_the_result_is_announced(self):
        self.open()
        body = self.browser.find_element(By.TAG_NAME, "body")
        body.send_keys(Keys.TAB)
        seen = []
        for _ in range(6):  # the link to the OpenAPI document, then the IBAN form's fields in their order
            seen.append(self.browser.switch_to.active_element.get_attribute("id") or
                        self.browser.switch_to.active_element.tag_name)
            self.browser.switch_to.active_element.send_keys(Keys.TAB)
        self.assertEqual(seen[1:4], ["iban-iban", "iban-bic", "button"], seen)
        self.browser.find_element(By.ID, "iban-iban").send_keys("DE89370400440532013000", Keys.ENTER)
        result, verdict, colour = self.result_of("iban")
        self.wait(lambda b: b.switch_to.active_element == result, "focus on the result")
        self.assertEqual(result.get_attribute("aria-live"), "polite")
        self.assertEqual(result.get_attribute("role"), "status")
        self.screenshot("keyboard")
        # Every field is named for a screen reader by its label.
        unnamed = self.browser.execute_script(
            "return [...document.querySelectorAll('input, select')].filter(e => !e.labels.length).map(e => e.id)")
        self.assertEqual(unnamed, [])

    def test_with_a_users_file_the_page_logs_in_through_basic_once(self):
        self.open(start(self, "--users-file", USERS))
        user = self.browser.find_element(By.ID, "login-user")
        self.wait(lambda b: b.switch_to.active_element == user, "focus on the login")
        self.screenshot("login")
        self.fill({"login-user": "demo", "login-password": "falsch"}).send_keys(Keys.ENTER)
        result = self.browser.find_element(By.CSS_SELECTOR, "#login .result")
        self.wait(lambda b: result.text and b.switch_to.active_element == result, "refused login")
        self.screenshot("login-refused")
        self.fill({"login-password": "wexo"}).send_keys(Keys.ENTER)
        self.wait(lambda b: not b.find_element(By.ID, "login").is_displayed(), "login accepted")
        self.fill({"iban-iban": "DE89370400440532013000"}).send_keys(Keys.ENTER)
        result, verdict, colour = self.result_of("iban")
        self.assertEqual(colour, GREEN, verdict)
        self.screenshot("logged-in")

    def test_a_confirmation_is_journaled_and_its_proof_is_a_pdf(self):
        # The stand-in is busy for the first confirmation's two tries: it is kept as pending, the second one answers.
        standin = start(self, "--busy-answers", "2")
        self.open(start(self, "--users-file", USERS, "--OwnVatId", OWN, ORVELWDDX_VIES_URL=standin + VIES_PATH))
        self.log_in()
        fields = {"confirm-id": "ATU 135 856 27", "confirm-name": "Muster GmbH", "confirm-street": "Ringstraße 1",
                  "confirm-zip": "1010", "confirm-city": "Wien"}
        cases = [  # colour, name, verdict, words of the details
            (AMBER, "not-checked", "Nicht geprüft",
             "Antwort des Dienstes\nVIES: der Dienst des Mitgliedstaats ist überlastet"),
            (GREEN, "passed", "Gültig: Die USt-IdNr. ist gültig.", "Name: nicht geprüft"),
        ]
        for shown, name, words, details in cases:
            with self.subTest(name):
                self.fill(fields).send_keys(Keys.ENTER)
                result, verdict, colour = self.result_of("confirm")
                self.screenshot("confirm-" + name)
                self.assertEqual(verdict, words)
                self.assertIn(details, result.text)
                self.assertEqual(colour, shown, verdict)
                self.wait(lambda b: b.switch_to.active_element == result, "focus on the result")
        # The record's proof is the next stop of the keyboard.
        result.send_keys(Keys.TAB)
        proof = self.browser.switch_to.active_element
        self.assertEqual(proof.get_attribute("aria-label"), "Nachweis Nr. 2 (PDF)")
        self.assertEqual(self.fetched(proof.get_attribute("href")), (200, "application/pdf", "%PDF-"))

        self.fill({"journal-vat": "atu13585627"}).send_keys(Keys.ENTER)
        result, verdict, colour = self.result_of("journal")
        self.screenshot("journal")
        self.assertEqual((verdict, colour), ("2 Einträge im Journal", GREEN))
        rows = [[cell.text for cell in row.find_elements(By.TAG_NAME, "td")]
                for row in result.find_elements(By.CSS_SELECTOR, "tr")[1:]]
        self.assertEqual(sorted((row[2], row[3], row[4], row[5], row[6], row[7]) for row in rows),
                         [("ATU13585627", "Gültig", "VIES", "Muster GmbH", "Wien", "PDF"),
                          ("ATU13585627", "Nicht geprüft", "VIES", "Muster GmbH", "Wien", "PDF")])
        for link in result.find_elements(By.CSS_SELECTOR, "td a"):
            self.assertEqual(self.fetched(link.get_attribute("href")), (200, "application/pdf", "%PDF-"))
        # The page's login is what opens the proof.
        with self.assertRaises(urllib.error.HTTPError) as refused:
            urllib.request.urlopen(link.get_attribute("href"), timeout=WAIT)
        self.assertEqual(refused.exception.code, 401)

    def test_a_refused_confirmation_says_why_in_german(self):
        cases = [  # label, own id, company type, id asked, colour, words
            ("no own id", None, "", "ATU13585627", DARK_RED, "Die eigene USt-IdNr. fehlt"),
            ("own id wrong", "DE136695977", "", "ATU13585627", DARK_RED,
             "Die eigene USt-IdNr. DE136695977 hat eine falsche Prüfziffer"),
            ("outside VIES", OWN, "", "GB123456789", RED, "kein EU-Mitgliedstaat"),
            ("company type", OWN, "GmbH", "ATU13585627", DARK_RED, "Die Rechtsform \"GmbH\" hat nicht die Form"),
        ]
        for label, own, company_type, asked, colour, words in cases:
            with self.subTest(label):
                self.open(start(self, *(("--OwnVatId", own) if own else ())))
                self.fill({"confirm-type": company_type, "confirm-id": asked}).send_keys(Keys.ENTER)
                result, verdict, shown = self.result_of("confirm")
                self.screenshot("confirm-refused-" + label.replace(" ", "-"))
                self.assertIn(words, verdict)
                self.assertEqual(shown, colour, verdict)
                self.fill({"journal-vat": ""}).send_keys(Keys.ENTER)
                self.assertEqual(self.result_of("journal")[1], "Keine Einträge im Journal")

    def test_the_page_forbids_what_it_does_not_need_and_keeps_its_files(self):
        with urllib.request.urlopen(self.url + "/", timeout=WAIT) as page:
            html = page.read().decode()
            self.assertIn("default-src 'self'", page.headers["Content-Security-Policy"])
            self.assertEqual(page.headers["X-Content-Type-Options"], "nosniff")
            self.assertEqual(page.headers["Cache-Control"], "no-cache")
        files = re.findall(r'(?:href|src)="(/page/[^"]+)"', html)
        self.assertEqual(len(files), 2, html)
        for path in files:
            with urllib.request.urlopen(self.url + path, timeout=WAIT) as file:
                self.assertIn("immutable", file.headers["Cache-Control"])
                self.assertEqual(file.headers["X-Content-Type-Options"], "nosniff")
        # What the page asks for is never kept by a cache.
        with urllib.request.urlopen(self.url + "/api/v1/status", timeout=WAIT) as answer:
            self.assertEqual(answer.headers["Cache-Control"], "no-store")
        self.assertNotRegex(html, r"<script>|<style|style=|\son[a-z]+=", "inline script or style")
        self.assertNotRegex(html, r"(?:href|src)=\"(?:https?:)?//", "a resource from elsewhere")


if __name__ == "__main__":
    unittest.main()
