"""Load on the automation server, on a private bus against a local stand-in service (127.0.0.1 only).

1. 8 client processes x 500 mixed calls (checks, property puts and gets, late binding, VAT checks); every answer
   must carry that client's own values. Prints the server's RSS before, at its peak and after the clients left.
2. 10,000 objects created by one client that then leaves without releasing them; RSS after they are gone.

Run: /usr/bin/python3 bench/server_load.py [build/src/app/orvelwddx]"""

import os
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "server"))

import dbus  # noqa: E402

from orvelbus import VIES_PATH, Fixture, PrivateBus, create, wait_until, wddx  # noqa: E402

CLIENTS = 8
CALLS = 500
OBJECTS = 10000


def rss_kib(pid):
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def client(number, address, host):
    """One client process: CALLS calls, each answer checked against what this client asked for."""
    connection = dbus.bus.BusConnection(address)
    tarvik = create(connection, "Tarvik")
    ustid = create(connection, "UStID")
    properties = dbus.Interface(tarvik, "org.freedesktop.DBus.Properties")
    checks = dbus.Interface(tarvik, "OrvelWddx.ITarvik")
    properties.Set("OrvelWddx.ITarvik", "Host", host, signature="ssv")
    calls = 3
    user = "kunde%d" % number
    i = -1
    while calls < CALLS:
        i += 1
        step = i % 5
        if step == 0:
            account = "%d-%d" % (number, i)
            checks.TestBlzKto(user, "pw", "37050198", account, "DE", i, "Name")
            got = properties.Get("OrvelWddx.ITarvik", "Resulttext")
            calls += 1
            assert got == account, (number, got, account)
        elif step == 1:
            properties.Set("OrvelWddx.ITarvik", "Timeout", 1000 + number * 1000 + i, signature="ssv")
        elif step == 2:
            got = tarvik.Invoke(213, "get", dbus.Array([], signature="v"), signature="isav",
                                dbus_interface="OrvelWddx.Dispatch")
            assert got == 1000 + number * 1000 + i - 1, (number, got)
        elif step == 3:
            assert properties.Get("OrvelWddx.ITarvik", "BankName") == user
        else:
            ustid.Check("DE%09d" % (number * 1000 + i), dbus_interface="OrvelWddx.IUStID")
            assert ustid.Get("OrvelWddx.IUStID", "Result", dbus_interface="org.freedesktop.DBus.Properties") == 0
            calls += 1
        calls += 1
    connection.close()
    print(calls)


def main():
    if len(sys.argv) > 1 and sys.argv[1] == "--client":
        client(int(sys.argv[2]), sys.argv[3], sys.argv[4])
        return
    program = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "..", "build", "src", "app",
                                                                                   "orvelwddx"))
    # Each account check is answered with the account number asked for, so a client can tell its own answers.
    service = Fixture({"/tarvik": lambda query: wddx(result="0", resulttext=query.get("kto", [""])[0],
                                                     bankname=query.get("un", [""])[0])})
    bus = PrivateBus(ORVELWDDX_VIES_URL="http://%s%s" % (service.host, VIES_PATH))
    try:
        assert bus.run("-RegServer", program=program).returncode == 0
        # One object held throughout, so that the automation start stays while the others come and go.
        keeper_connection = bus.connect()
        keeper = create(keeper_connection, "Tarvik")
        pid = bus.owner_pid(keeper_connection, "OrvelWddx.Tarvik")
        time.sleep(0.5)
        before = rss_kib(pid)
        peak = [before]
        sampling = threading.Event()

        def sample():
            while not sampling.is_set():
                peak[0] = max(peak[0], rss_kib(pid))
                time.sleep(0.02)

        sampler = threading.Thread(target=sample)
        sampler.start()
        start = time.monotonic()
        clients = [subprocess.Popen([sys.executable, __file__, "--client", str(n), bus.address, service.host],
                                    env=bus.env, stdout=subprocess.PIPE, text=True) for n in range(CLIENTS)]
        outputs = [c.communicate(timeout=600)[0] for c in clients]
        elapsed = time.monotonic() - start
        sampling.set()
        sampler.join()
        failed = [n for n, c in enumerate(clients) if c.returncode != 0]
        calls = sum(int(out.strip() or 0) for out in outputs)
        factory = keeper_connection.get_object("OrvelWddx.Tarvik", "/OrvelWddx/Tarvik", introspect=False)

        def objects():
            xml = factory.Introspect(dbus_interface="org.freedesktop.DBus.Introspectable")
            return xml.count("<node name=")

        wait_until(lambda: objects() == 1, 30, "the clients' objects gone")
        time.sleep(1)
        after = rss_kib(pid)
        print("clients: %d x %d calls, %d answered, %d failed clients, %.1f s (%.0f calls/s)"
              % (CLIENTS, CALLS, calls, len(failed), elapsed, calls / elapsed))
        print("RSS before %d KiB, peak %d KiB, after the clients left %d KiB" % (before, peak[0], after))

        # Twice: a second round that ends where the first did shows the memory is reused, not lost.
        for cycle in (1, 2):
            mass = bus.connect()
            mass_factory = mass.get_object("OrvelWddx.Tarvik", "/OrvelWddx/Tarvik", introspect=False)
            start = time.monotonic()
            for _ in range(OBJECTS):
                mass_factory.CreateInstance(dbus_interface="OrvelWddx.ClassFactory")
            created = time.monotonic() - start
            holding = rss_kib(pid)
            mass.close()
            wait_until(lambda: objects() == 1, 60, "the abandoned objects gone")
            time.sleep(1)
            print("round %d: %d objects created in %.1f s: RSS %d KiB holding them, %d KiB after they were abandoned"
                  % (cycle, OBJECTS, created, holding, rss_kib(pid)))
        keeper.Release(dbus_interface="OrvelWddx.Object")
        if failed:
            sys.exit("clients failed: %s" % failed)
    finally:
        bus.close()
        service.close()


if __name__ == "__main__":
    main()
