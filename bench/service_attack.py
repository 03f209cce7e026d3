#!/usr/bin/env python3
"""A good client's latency on the local service while it is attacked over loopback.

crowded:  4 senders post SOAP bodies whose one element carries thousands of attributes, in a loop.
oversize: 4 senders post 979 kB SOAP bodies of one element with 90,000 attributes, in a loop.
slow:     one address (127.0.0.1) opens 2,000 connections that send a header line every 4 s and never end their
          request head; the good client comes from 127.0.0.2.
guessing: 4 senders guess passwords from 127.0.0.1 (each guess a PBKDF2 run until the address is locked out).
Each once without and once with a users file (the good client logs in, the attackers do not).
bodies:   1,000 connections each send a body of the limit less one byte (64 KiB - 1) and hold back the last byte;
          the service's resident memory before, while they are open, and after they have closed.
Usage: bench/service_attack.py [SERVICE_BINARY]   (after a build; prints p50/p99 of 200 good IBAN checks)
"""
import os, socket, subprocess, sys, threading, time

service = sys.argv[1] if len(sys.argv) > 1 else "build/src/service/orvelwddx-service"
BANKS = "/usr/share/ktoblzcheck/blz_20200420.txt"
USERS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src", "service", "data", "users.example")
GOOD = (b"GET /tarvik?un=demo&pw=wexo&iban=DE89370400440532013000&id=0&name= HTTP/1.1\r\nHost: x\r\n"
        b"Connection: close\r\n\r\n")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def good_latencies(port, count=200):
    times = []
    for _ in range(count):
        start = time.perf_counter()
        with socket.socket() as s:
            s.bind(("127.0.0.2", 0))
            s.settimeout(60)
            s.connect(("127.0.0.1", port))
            s.sendall(GOOD)
            while s.recv(65536):
                pass
        times.append((time.perf_counter() - start) * 1000)
    times.sort()
    return times[len(times) // 2], times[int(len(times) * 0.99) - 1]


def crowded_request(count):
    attributes = "".join(f' a{i}="x"' for i in range(count))
    body = ('<SOAP-ENV:Envelope xmlns:SOAP-ENV="http://schemas.xmlsoap.org/soap/envelope/"><SOAP-ENV:Body><x'
            + attributes + "/></SOAP-ENV:Body></SOAP-ENV:Envelope>").encode()
    head = (f"POST /soap/ITarvik HTTP/1.1\r\nHost: x\r\nContent-Type: text/xml\r\nConnection: close\r\n"
            f"Content-Length: {len(body)}\r\n\r\n").encode()
    return head + body


def send_loop(port, stop, make_request):
    for number in range(10**9):
        if stop.is_set():
            break
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=60) as s:
                s.sendall(make_request(number))
                while s.recv(65536):
                    pass
        except OSError:
            pass


def under_attack(port, name, make_request):
    stop = threading.Event()
    senders = [threading.Thread(target=send_loop, args=(port, stop, make_request)) for _ in range(4)]
    for t in senders:
        t.start()
    time.sleep(0.5)
    print("%-9s p50 %.2f ms  p99 %.2f ms" % ((name + ":",) + good_latencies(port)))
    stop.set()
    for t in senders:
        t.join()


def slow_heads(port, stop):
    slow = []
    for _ in range(2000):
        s = socket.socket()
        s.setblocking(False)
        s.connect_ex(("127.0.0.1", port))
        slow.append(s)
    time.sleep(0.5)
    line = b"GET /tarvik?iban=DE HTTP/1.1\r\n"
    while not stop.is_set():
        for s in slow:
            try:
                s.send(line)
            except OSError:
                pass
        line = b"X-Slow: 1\r\n"
        stop.wait(4)
    for s in slow:
        s.close()


def rss_mb(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024


def slow_bodies(count=1000, limit=64 << 10):
    port = free_port()
    proc = subprocess.Popen([service, "--listen", f"127.0.0.1:{port}", "--bank-file", BANKS, "--connections",
                             str(count + 100), "--connections-per-client", str(count + 100)],
                            stderr=subprocess.DEVNULL)
    try:
        time.sleep(1)
        start = rss_mb(proc.pid)
        head = (f"POST /soap/ITarvik HTTP/1.1\r\nHost: x\r\nContent-Type: text/xml\r\n"
                f"Content-Length: {limit - 1}\r\n\r\n").encode()
        held = []
        for _ in range(count):
            s = socket.create_connection(("127.0.0.1", port), timeout=30)
            s.sendall(head)
            held.append(s)
        piece = b"x" * 4096
        for sent in range(0, limit - 2, len(piece)):
            for s in held:
                s.sendall(piece[:min(len(piece), limit - 2 - sent)])
        time.sleep(1)
        during = rss_mb(proc.pid)
        for s in held:
            s.close()
        time.sleep(3)
        print("bodies:  RSS %.0f MB at the start, %.0f MB with %d bodies held, %.0f MB 3 s after they closed"
              % (start, during, count, rss_mb(proc.pid)))
    finally:
        proc.terminate()
        proc.wait()


def run(users):
    port = free_port()
    command = [service, "--listen", f"127.0.0.1:{port}", "--bank-file", BANKS]
    if users:
        command += ["--users-file", USERS]
    proc = subprocess.Popen(command, stderr=subprocess.DEVNULL)
    try:
        time.sleep(1)
        print("with a users file:" if users else "without a users file:")
        print("quiet:    p50 %.2f ms  p99 %.2f ms" % good_latencies(port))
        crowded = crowded_request(5800)
        under_attack(port, "crowded", lambda _: crowded)
        oversize = crowded_request(90000)
        under_attack(port, "oversize", lambda _: oversize)
        if users:
            under_attack(port, "guessing", lambda n: (f"GET /tarvik?un=mallory&pw=guess{n}&iban=DE HTTP/1.1\r\n"
                                                      "Host: x\r\nConnection: close\r\n\r\n").encode())
            return
        stop = threading.Event()
        dripper = threading.Thread(target=slow_heads, args=(port, stop))
        dripper.start()
        time.sleep(1)
        print("slow:     p50 %.2f ms  p99 %.2f ms" % good_latencies(port))
        stop.set()
        dripper.join()
    finally:
        proc.terminate()
        proc.wait()


for users in (False, True):
    run(users)
slow_bodies()
