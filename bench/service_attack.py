#!/usr/bin/env python3
"""A good client's latency on the local service while it is attacked over loopback.

crowded:  4 senders post SOAP bodies whose one element carries thousands of attributes, in a loop.
oversize: 4 senders post 979 kB SOAP bodies of one element with 90,000 attributes, in a loop.
slow:     one address (127.0.0.1) opens 2,000 connections that stop in the middle of their request head;
          the good client comes from 127.0.0.2.
guessing: 4 senders guess passwords from 127.0.0.1 (each guess a PBKDF2 run until the address is locked out).
Each once without and once with a users file (the good client logs in, the attackers do not).
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
        slow = []
        for _ in range(2000):
            s = socket.socket()
            s.setblocking(False)
            s.connect_ex(("127.0.0.1", port))
            slow.append(s)
        time.sleep(0.5)
        for s in slow:
            try:
                s.send(b"GET /tarvik?iban=DE")
            except OSError:
                pass
        print("slow:     p50 %.2f ms  p99 %.2f ms" % good_latencies(port))
        for s in slow:
            s.close()
    finally:
        proc.terminate()
        proc.wait()


for users in (False, True):
    run(users)
