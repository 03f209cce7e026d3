#!/usr/bin/env python3
"""The official bank directories updated from a loopback stand-in of their download addresses.

full:  `orvelwddx-service --update-data` of all three sources into an empty folder (a Bundesbank file of every
       built-in bank code, 2,000 SCL rows, 900 OeNB rows): wall time and the updater's peak resident memory, median of
       5 runs.
swap:  a good client checks an IBAN in a loop, one request after the other, while the service's folder gets a new
       Bundesbank edition 10 times (the service reloads each); its p50/p99/max next to the same client without
       updates, and the failed requests.
Usage: bench/data_update.py [SERVICE_BINARY]   (after a build)
"""
import datetime
import os
import re
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "service"))
from bankfiles import (BLOB, StandIn, built_in_records, bundesbank_bytes, bundesbank_page, oenb_bytes,  # noqa: E402
                       oenb_rows, scl_bytes, scl_rows)

service = sys.argv[1] if len(sys.argv) > 1 else "build/src/service/orvelwddx-service"
TODAY = datetime.date.today()
DAY = TODAY - datetime.timedelta(days=1)


def publish(stand_in, number):
    """Edition number: the same bank codes, one name changed, under a link of its own, a day later each."""
    link_hash = "%032x" % number
    valid_from = TODAY - datetime.timedelta(days=15 - number)
    stand_in.serve("/page", bundesbank_page(link_hash, valid_from, valid_from + datetime.timedelta(days=91)))
    stand_in.serve(BLOB % link_hash, bundesbank_bytes(built_in_records({"10012345": "Ausgabe %d" % number})))


def environment(folder, stand_in):
    env = {k: v for k, v in os.environ.items() if not k.lower().endswith("_proxy") and not k.startswith("DBUS_")}
    env.update(XDG_DATA_HOME=folder, XDG_CONFIG_HOME=folder, ORVELWDDX_BUNDESBANK_URL=stand_in.base + "/page",
               ORVELWDDX_SCL_URL=stand_in.base + "/scl", ORVELWDDX_OENB_URL=stand_in.base + "/oenb")
    return env


def full_updates(stand_in, runs=5):
    times, peaks = [], []
    for run in range(runs):
        folder = tempfile.mkdtemp(prefix="orvel-bench-feeds-")
        started = time.monotonic()
        # Each run in a child of its own, so that its peak memory is its own.
        child = subprocess.run([sys.executable, "-c", "import resource, subprocess, sys; "
                                "r = subprocess.run(sys.argv[1:]).returncode; "
                                "print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss); sys.exit(r)",
                                service, "--update-data"], env=environment(folder, stand_in), capture_output=True,
                               text=True, timeout=300)
        times.append(time.monotonic() - started)
        if child.returncode != 0 or child.stdout.count("installiert") != 3:
            sys.exit("update failed: " + child.stdout + child.stderr)
        peaks.append(int(child.stdout.splitlines()[-1]))
        shutil.rmtree(folder)
    print("full update of all three sources: %.2f s (median of %d; min %.2f, max %.2f), peak memory %.1f MiB"
          % (statistics.median(times), runs, min(times), max(times), statistics.median(peaks) / 1024))


def latencies_while(port, work):
    """The good client's latencies (ms) and failures while work() runs."""
    url = "http://127.0.0.1:%d/tarvik?un=&pw=&iban=DE89370400440532013000&id=0&name=" % port
    times, failures, stop = [], [], threading.Event()

    def client():
        while not stop.is_set():
            started = time.perf_counter()
            try:
                with urllib.request.urlopen(url, timeout=10) as reply:
                    reply.read()
                times.append((time.perf_counter() - started) * 1000)
            except Exception as error:  # every failure counts
                failures.append(repr(error))

    thread = threading.Thread(target=client)
    thread.start()
    try:
        work()
    finally:
        stop.set()
        thread.join()
    return sorted(times), failures


def report(label, times, failures):
    print("%s: %d requests, p50 %.2f ms, p99 %.2f ms, max %.2f ms, %d failed"
          % (label, len(times), times[len(times) // 2], times[int(len(times) * 0.99)], times[-1], len(failures)))


def swaps(stand_in, count=10):
    folder = tempfile.mkdtemp(prefix="orvel-bench-swap-")
    env = environment(folder, stand_in)
    server = subprocess.Popen([service, "--listen", "127.0.0.1:0"], env=env, stderr=subprocess.PIPE, text=True)
    try:
        for line in server.stderr:
            served = re.search(r"\(port (\d+)\)", line)
            if served:
                port = int(served.group(1))
                break
        switched = []
        threading.Thread(target=lambda: [switched.append(l) for l in server.stderr if "switched to bank directory" in l],
                         daemon=True).start()
        report("good client, no update", *latencies_while(port, lambda: time.sleep(10)))

        def update_repeatedly():
            for number in range(1, count + 1):
                publish(stand_in, number)
                done = subprocess.run([service, "--update-data", "bundesbank"], env=env, capture_output=True,
                                      text=True, timeout=300)
                if done.returncode != 0:
                    sys.exit("update failed: " + done.stderr)
                deadline = time.monotonic() + 10
                while len(switched) < number and time.monotonic() < deadline:
                    time.sleep(0.05)

        report("good client, %d editions swapped in" % count, *latencies_while(port, update_repeatedly))
        print("service switched %d times" % len(switched))
    finally:
        server.terminate()
        server.wait(10)
        shutil.rmtree(folder)


def main():
    stand_in = StandIn()
    publish(stand_in, 0)
    stand_in.serve("/scl", scl_bytes(DAY, scl_rows(2000)))
    stand_in.serve("/oenb", oenb_bytes(DAY, oenb_rows(900)))
    try:
        full_updates(stand_in)
        swaps(stand_in)
    finally:
        stand_in.close()


if __name__ == "__main__":
    main()
