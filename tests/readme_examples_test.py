#!/usr/bin/python3
"""The README's shell examples print what the README shows: each "$ command" of a block is run in one shell against a
local checking service of the test's own (its address in place of 127.0.0.1:8590), the D-Bus examples on a private
bus where the built server is registered, and the output compared line by line. Dates, times, consultation numbers
and speeds differ from run to run and are compared by their form."""
import os
import re
import signal
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "server"))
from orvelbus import PrivateBus  # noqa: E402

README = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "README.md")
CHECK, SERVICE = os.environ["ORVELWDDX_CHECK"], os.environ["ORVELWDDX_SERVICE"]
DEFAULT_ADDRESS = "127.0.0.1:8590"
MARK = "@@@ next command @@@"
# What changes from run to run, and the form it is compared by.
VARYING = ((re.compile(r"\d{4}-\d\d-\d\d(T\d\d:\d\d:\d\d(\.\d+)?Z|[+-]\d\d:\d\d)?"), "<date>"),
           (re.compile(r"LOKAL[0-9a-f]{16}|lokal-[0-9a-f]{16}"), "<local consultation number>"),
           (re.compile(r"\d+\.\d s, \d+\.\d checks/s"), "<time>, <speed>"))


def normalised(lines):
    result = []
    for line in lines:
        line = line.rstrip("\r\n ")
        for pattern, form in VARYING:
            line = pattern.sub(form, line)
        result.append(line)
    return result


def shell_blocks(text):
    """Each block of shell examples: a list of (command, lines it prints)."""
    blocks = []
    # Every fence is paired in turn, so that a closing one is never taken for an opening one; only those without a
    # language hold shell examples.
    for language, block in re.findall(r"^```(\w*)\n(.*?)^```", text, re.S | re.M):
        if language:
            continue
        examples = []
        for line in block.splitlines():
            if line.startswith("$ "):
                examples.append((line[2:], []))
            elif examples:
                examples[-1][1].append(line)
        if examples:
            blocks.append(examples)
    return blocks


class ReadmeExamplesTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(README, encoding="utf-8") as readme:
            cls.readme = readme.read()
        cls.dir = tempfile.TemporaryDirectory(prefix="orvel-readme-examples-")
        cls.env = {k: v for k, v in os.environ.items() if not k.startswith(("ORVELWDDX_", "DBUS_"))}
        cls.env.update(XDG_CONFIG_HOME=os.path.join(cls.dir.name, "config"),
                       XDG_DATA_HOME=os.path.join(cls.dir.name, "data"), XDG_RUNTIME_DIR=cls.dir.name,
                       HOME=os.path.join(cls.dir.name, "home"))
        cls.service = subprocess.Popen([SERVICE, "--listen", "127.0.0.1:0"], env=cls.env, stderr=subprocess.PIPE,
                                       text=True)
        log = ""
        for line in cls.service.stderr:
            log += line
            served = re.search(r"serving http 127\.0\.0\.1:0 \(port (\d+)\)", line)
            if served:
                cls.address = "127.0.0.1:" + served.group(1)
                break
        else:
            raise AssertionError(log)
        programs = os.path.join(cls.dir.name, "bin")
        os.makedirs(programs)
        os.symlink(CHECK, os.path.join(programs, "orvelwddx-check"))
        cls.env.update(PATH=programs + os.pathsep + cls.env["PATH"], ORVELWDDX_HOST=cls.address)

    @classmethod
    def tearDownClass(cls):
        cls.service.send_signal(signal.SIGTERM)
        cls.service.communicate(timeout=30)
        cls.dir.cleanup()

    def run_block(self, examples, env):
        """Runs the commands of a block in one shell in a folder of their own; a file a command shows with cat
        before any command wrote it is the README's sample input and is made from what the README shows."""
        with tempfile.TemporaryDirectory(prefix="orvel-example-") as folder:
            script, written = [], set()
            for command, shown in examples:
                shown_file = re.fullmatch(r"cat (\S+)", command)
                if shown_file and shown_file.group(1) not in written:
                    with open(os.path.join(folder, shown_file.group(1)), "w", encoding="utf-8") as sample:
                        sample.write("\n".join(shown) + "\n")
                written.update(re.findall(r"> (\S+)", command))
                script.append("echo '%s'\n{ %s\n} 2>&1\n" % (MARK, command.replace(DEFAULT_ADDRESS, self.address)))
            ran = subprocess.run(["bash", "-c", "".join(script)], cwd=folder, env=env, capture_output=True, text=True,
                                 timeout=120)
            printed = ran.stdout.split(MARK + "\n")[1:]
            self.assertEqual(len(printed), len(examples), ran.stdout + ran.stderr)
            for (command, shown), output in zip(examples, printed):
                self.assertEqual(normalised(output.splitlines()), normalised(shown), command)

    def blocks(self, program):
        found = [block for block in shell_blocks(self.readme) if any(program in command for command, _ in block)]
        self.assertTrue(found, program)
        return found

    def test_the_check_command_examples_print_what_the_readme_shows(self):
        for block in self.blocks("orvelwddx-check "):
            with self.subTest(block[0][0]):
                self.run_block(block, self.env)

    def test_the_dbus_examples_answer_what_the_readme_shows(self):
        bus = PrivateBus(ORVELWDDX_HOST=self.address)
        self.addCleanup(bus.close)
        registered = bus.run("-RegServer")
        self.assertEqual(registered.returncode, 0, registered.stderr)
        env = dict(bus.env, PATH=self.env["PATH"])
        for block in self.blocks("gdbus call"):
            self.run_block(block, env)
        self.run_python("import dbus", env)

    def test_the_json_interface_examples_answer_what_the_readme_shows(self):
        for block in self.blocks("/api/v1/"):
            with self.subTest(block[0][0]):
                self.run_block(block, self.env)
        self.run_python("import base64, json, urllib", self.env)

    def run_python(self, marker, env):
        """The README's Python example that begins with marker prints what the sentence after it says."""
        examples = re.findall(r"^```python\n(%s.*?)^```\n\nIt prints `(.*?)`" % re.escape(marker), self.readme,
                              re.S | re.M)
        self.assertEqual(len(examples), 1, marker)
        code, printed = examples[0]
        ran = subprocess.run(["/usr/bin/python3", "-c", code.replace(DEFAULT_ADDRESS, self.address)], env=env,
                             capture_output=True, text=True, timeout=60)
        self.assertEqual(ran.returncode, 0, ran.stderr)
        self.assertEqual(normalised(ran.stdout.splitlines()), normalised([printed]))


if __name__ == "__main__":
    unittest.main()
