"""The checking page at "/" in a real browser (Debian's chromium, headless, driven by selenium): a check, bad input,
a login through HTTP Basic and keyboard use, with no Content-Security-Policy violation on the way. Screenshots go
to the build tree for a person to look at."""
import os
import re
import tempfile
import unittest
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


def start(test, *options):
    """orvelwddx-service on a free loopback port with data folders of its own; its address."""
    folder = tempfile.TemporaryDirectory(prefix="orvel-page-")
    test.addCleanup(folder.cleanup)
    env = {k: v for k, v in os.environ.items() if not k.startswith("ORVELWDDX_")}
    env.update(XDG_DATA_HOME=folder.name, XDG_CONFIG_HOME=folder.name)
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
        return result, verdict.text, verdict.value_of_css_property("color")

    def screenshot(self, name):
        self.browser.save_screenshot(os.path.join(SCREENSHOTS, "check-page-%s.png" % name))

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
