#!/usr/bin/python3
"""A batch of 1,000,000 IBANs through POST /api/v1/batch of a local orvelwddx-service, sent and received by curl:
the time from the first byte sent to the last byte received, and the service's peak memory (VmHWM) before and after.

    bench/batch_million.py build/src/service/orvelwddx-service [ROWS]
"""

import os
import socket
import subprocess
import sys
import tempfile
import time

DEBIAN_BANKS = "/usr/share/ktoblzcheck/blz_20200420.txt"


def iban(bank_code, account):
    """A German IBAN with its check digits (ISO 13616: mod 97 over the BBAN with "DE00" moved to the end)."""
    bban = "%08d%010d" % (bank_code, account)
    digits = int(bban + "131400")  # D=13, E=14, 00
    return "DE%02d%s" % (98 - digits % 97, bban)


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def memory(pid, key):
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith(key + ":"):
                return int(line.split()[1]) // 1024
    return 0


def main():
    service = sys.argv[1]
    rows = int(sys.argv[2]) if len(sys.argv) > 2 else 1000000
    folder = tempfile.mkdtemp(prefix="orvel-batch-bench-")
    source = os.path.join(folder, "ibans.csv")
    with open(source, "w") as out:
        out.write("kunde,iban\n")
        for n in range(rows):
            # Every 100th row a wrong check digit, so that both answers are written.
            text = iban(37040044, 532013000 + n)
            out.write("%d,%s\n" % (n, text if n % 100 else text[:2] + "00" + text[4:]))
    port = free_port()
    proc = subprocess.Popen([service, "--bank-file", DEBIAN_BANKS, "--listen", "127.0.0.1:%d" % port],
                            stderr=subprocess.DEVNULL)
    try:
        for _ in range(200):
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                break
            except OSError:
                time.sleep(0.05)
        idle = memory(proc.pid, "VmHWM")
        results = {}
        for accept in ("application/x-ndjson", "text/csv"):
            answer = os.path.join(folder, "answer")
            began = time.monotonic()
            subprocess.run(["curl", "-sS", "--fail", "-o", answer, "-H", "Content-Type: text/csv", "-H",
                            "Accept: " + accept, "--data-binary", "@" + source,
                            "http://127.0.0.1:%d/api/v1/batch" % port], check=True)
            seconds = time.monotonic() - began
            with open(answer, "rb") as got:
                lines = sum(1 for _ in got)
            results[accept] = (seconds, os.path.getsize(answer), lines)
        peak = memory(proc.pid, "VmHWM")
        now = memory(proc.pid, "VmRSS")
    finally:
        proc.terminate()
        proc.wait(10)
    print("rows %d, body %.1f MB" % (rows, os.path.getsize(source) / 1e6))
    for accept, (seconds, size, lines) in results.items():
        print("%-22s %6.1f s  %9.0f rows/s  answer %.1f MB, %d lines" % (accept, seconds, rows / seconds, size / 1e6,
                                                                        lines))
    print("service peak RSS: %d MiB before, %d MiB after both batches (RSS now %d MiB)" % (idle, peak, now))
    subprocess.run(["rm", "-rf", folder])


if __name__ == "__main__":
    main()
