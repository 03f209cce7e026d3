#!/usr/bin/python3
"""IBANs from a file to a file (300,000 and 1,000,000 unless sizes are given): orvelwddx-check --offline batch next to
Debian's python3-stdnum and npm ibantools doing the same I/O, and the same file through the running local service;
for each size the speed-up over each of the two beside its aim (ibantools at least 3x, python3-stdnum at least 20x).

The file mixes every country of the IBAN table, German IBANs with real bank codes of the bank directory, and a quarter
of all IBANs with one digit changed. Each tool reads it line by line and writes one verdict per line; orvelwddx-check
also writes the bank's name, the IBAN, the BIC and the account check's text for German IBANs. Wall time and peak RSS
come from /usr/bin/time.

Usage: bench/offline_iban.py [ROWS...] [--no-service]   (after a build; needs Debian's python3-stdnum and time, and
npm to fetch ibantools once into ~/.cache/orvelwddx-bench)
"""

import os
import pathlib
import random
import re
import socket
import subprocess
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
BUILD = pathlib.Path(os.environ.get("ORVELWDDX_BUILD", ROOT / "build"))
CHECK = BUILD / "src/cli/orvelwddx-check"
SERVICE = BUILD / "src/service/orvelwddx-service"
CACHE = pathlib.Path.home() / ".cache/orvelwddx-bench"

STDNUM = """
import sys
from stdnum import iban
with open(sys.argv[1], encoding="ascii") as rows, open(sys.argv[2], "w") as out:
    next(rows)
    out.write("iban,valid\\n")
    for line in rows:
        number = line.rstrip("\\n")
        out.write("%s,%d\\n" % (number, iban.is_valid(number)))
"""

IBANTOOLS = """
const fs = require("fs"), readline = require("readline");
const { isValidIBAN } = require("ibantools");
const out = fs.createWriteStream(process.argv[2]);
let first = true, chunk = [];
const rows = readline.createInterface({ input: fs.createReadStream(process.argv[1]), crlfDelay: Infinity });
rows.on("line", (line) => {
    if (first) { first = false; chunk.push("iban,valid"); return; }
    chunk.push(line + "," + (isValidIBAN(line) ? 1 : 0));
    if (chunk.length >= 4096) { out.write(chunk.join("\\n") + "\\n"); chunk = []; }
});
rows.on("close", () => { out.write(chunk.join("\\n") + "\\n"); out.end(); });
"""

LETTERS = "ABCDEFGHIJKLMNOPQRSTUVWXYZ"


def structures():
    """(country, [(count, kind)]) for every row of the IBAN table."""
    table = []
    for line in (ROOT / "src/rules/data/iban_registry.txt").read_text().splitlines():
        parts = line.split()
        if len(parts) >= 3 and len(parts[0]) == 2 and parts[1].isdigit():
            table.append((parts[0], [(int(n), kind) for n, kind in re.findall(r"(\d+)!([nac])", parts[2])]))
    return table


def bank_codes():
    """Bank codes of the installed directory (the Bundesbank file ktoblzcheck ships)."""
    files = sorted(pathlib.Path("/usr/share/ktoblzcheck").glob("blz_*.txt"))
    codes = set()
    with open(files[-1], encoding="latin-1") as directory:
        for record in directory:
            if record[8:9] == "1":
                codes.add(record[:8])
    return sorted(codes)


def check_digits(country, bban):
    digits = "".join(str(int(c, 36)) for c in bban + country + "00")
    return "%02d" % (98 - int(digits) % 97)


def make_file(path, rows):
    rng = random.Random(13616)
    table = structures()
    codes = bank_codes()
    pools = {"n": "0123456789", "a": LETTERS, "c": "0123456789" + LETTERS}
    with open(path, "w", encoding="ascii") as out:
        out.write("iban\n")
        for i in range(rows):
            if i % 4 == 0:
                country, bban = "DE", rng.choice(codes) + "".join(rng.choice("0123456789") for _ in range(10))
            else:
                country, parts = table[rng.randrange(len(table))]
                bban = "".join(rng.choice(pools[kind]) for count, kind in parts for _ in range(count))
            iban = country + check_digits(country, bban) + bban
            if i % 4 == 1:  # one digit changed: a typing error
                where = [k for k, c in enumerate(iban) if c.isdigit() and k >= 4]
                if where:
                    k = rng.choice(where)
                    iban = iban[:k] + str((int(iban[k]) + 1 + rng.randrange(9)) % 10) + iban[k + 1:]
            out.write(iban + "\n")


def timed(command, env=None):
    """(seconds, peak RSS in MB) of one run."""
    with tempfile.NamedTemporaryFile() as report:
        started = time.monotonic()
        done = subprocess.run(["/usr/bin/time", "-o", report.name, "-f", "%M", *command], env=env,
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        if done.returncode not in (0, 1):  # 1: some IBANs are not valid, as they should be
            raise RuntimeError(" ".join(command) + " failed: " + done.stderr.decode(errors="replace"))
        seconds = time.monotonic() - started
        return seconds, int(pathlib.Path(report.name).read_text().split()[-1]) / 1024


def ibantools():
    module = CACHE / "node_modules/ibantools"
    if not module.exists():
        CACHE.mkdir(parents=True, exist_ok=True)
        subprocess.run(["npm", "install", "--prefix", str(CACHE), "--no-audit", "--no-fund", "ibantools@4.5.4"],
                       check=True, stdout=subprocess.DEVNULL)
    return CACHE


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


AIMS = {"python3-stdnum iban.is_valid": 20, "ibantools isValidIBAN (node)": 3}


def main():
    sizes = [int(a) for a in sys.argv[1:] if a.isdigit()] or [300000, 1000000]
    speedups = [(rows, measure(rows)) for rows in sizes]
    print("\nAims: the offline batch's speed-up (the other's time / ours)")
    for rows, results in speedups:
        ours = results[0][1]
        for name, seconds, _ in results[1:]:
            if name in AIMS:
                print("%9d rows  %-32s %6.1fx  aim >= %dx  %s" % (rows, name, seconds / ours, AIMS[name],
                                                              "met" if seconds / ours >= AIMS[name] else "missed"))


def measure(rows):
    cpus = os.cpu_count() or 1
    work = pathlib.Path(tempfile.mkdtemp(prefix="orvel-bench-"))
    source = work / "ibans.csv"
    make_file(source, rows)
    env = dict(os.environ, XDG_CONFIG_HOME=str(work / "config"), XDG_DATA_HOME=str(work / "data"))
    results = []

    def run(name, command, env=env):
        seconds, rss = timed(command, env)
        results.append((name, seconds, rss))
        print("%-44s %8.2f s %10.0f IBANs/s %8.1f MB" % (name, seconds, rows / seconds, rss), flush=True)

    print("%d IBANs, %d CPUs" % (rows, cpus))
    run("orvelwddx-check --offline batch",
        ["sh", "-c", '"$0" --offline batch "$1" > "$2"', str(CHECK), str(source), str(work / "ours.csv")])
    run("python3-stdnum iban.is_valid", ["/usr/bin/python3", "-c", STDNUM, str(source), str(work / "stdnum.csv")])
    node_env = dict(env, NODE_PATH=str(ibantools() / "node_modules"))
    run("ibantools isValidIBAN (node)", ["node", "-e", IBANTOOLS, str(source), str(work / "ibantools.csv")], node_env)

    if "--no-service" not in sys.argv:
        port = free_port()
        service = subprocess.Popen([str(SERVICE), "--listen", "127.0.0.1:%d" % port, "--threads", str(cpus)],
                                   env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            for _ in range(200):
                with socket.socket() as probe:
                    if probe.connect_ex(("127.0.0.1", port)) == 0:
                        break
                time.sleep(0.05)
            service_env = dict(env, ORVELWDDX_HOST="127.0.0.1:%d" % port, ORVELWDDX_USER="demo", ORVELWDDX_PASS="wexo")
            run("orvelwddx-check batch via the service --jobs %d" % cpus,
                ["sh", "-c", '"$0" --jobs "$1" batch "$2" > "$3"', str(CHECK), str(cpus), str(source),
                 str(work / "service.csv")], service_env)
        finally:
            service.terminate()
            service.wait(10)

    subprocess.run(["rm", "-rf", str(work)])
    return results


if __name__ == "__main__":
    main()
