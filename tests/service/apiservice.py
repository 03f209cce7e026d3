"""An orvelwddx-service for the JSON API's tests: on a free loopback port, with Debian's bank file, stopped by stop()."""

import json
import os
import socket
import subprocess
import tempfile
import time
import urllib.error
import urllib.request

import jsonschema

SERVICE = os.environ["ORVELWDDX_SERVICE"]
DEBIAN_BANKS = "/usr/share/ktoblzcheck/blz_20200420.txt"
USERS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "src", "service", "data",
                     "users.example")


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def wait_until_listening(port):
    for _ in range(200):
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return
        except OSError:
            time.sleep(0.05)
    raise RuntimeError("the service did not start")


def call(url, data=None, method=None, headers=None):
    """Status, headers and body; error statuses are answers too."""
    request = urllib.request.Request(url, data=data, method=method, headers=headers or {})
    try:
        with urllib.request.urlopen(request, timeout=120) as answer:
            return answer.status, answer.headers, answer.read()
    except urllib.error.HTTPError as error:
        return error.code, error.headers, error.read()


class Service:
    def __init__(self, *options, env=None):
        self.port = free_port()
        self.log = tempfile.TemporaryFile()
        self.proc = subprocess.Popen([SERVICE, "--bank-file", DEBIAN_BANKS, "--listen", "127.0.0.1:%d" % self.port,
                                      *options], stderr=self.log,
                                     env=env or dict(os.environ, XDG_CONFIG_HOME="/nonexistent"))
        wait_until_listening(self.port)

    def url(self, path):
        return "http://127.0.0.1:%d%s" % (self.port, path)

    def stop(self):
        self.proc.terminate()
        self.proc.wait(timeout=10)
        self.log.close()

    def holds(self, data, schema):
        """Validates data against a schema of the service's own OpenAPI document (Debian's python3-jsonschema)."""
        document = json.loads(call(self.url("/api/v1/openapi.json"))[2])
        jsonschema.Draft202012Validator(dict(document["components"]["schemas"][schema],
                                             components=document["components"])).validate(data)
