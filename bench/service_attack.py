#!/usr/bin/env python3
"""A good client's latency on the local service while it is attacked over loopback.

crowded: 4 senders post SOAP bodies whose one element carries thousands of attributes, in a loop.
slow:    one address (127.0.0.1) opens 2,000 connections that send a header line every 4 s and never end their
         request head; the good client comes from 127.0.0.2.
bodies:  1,000 connections each send a body of the limit less one byte (64 KiB - 1) and hold back the last byte;
         the service's resident memory before, while they are open, and after they have closed.
Usage: bench/service_attack.py [SERVICE_BINARY]   (after a build; prints p50/p99 of 200 good IBAN checks)
"""
import socket, subprocess, sys, threading, time

service = sys.argv[1] if len(sys.argv) > 1 else "build/src/service/orvelwddx-service"
BANKS = "/usr/share/ktoblzcheck/blz_20200420.txt"
GOOD = b"GET /tarvik?iban=DE89370400440532013000&id=0&name= HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n"


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


def crowded(port, stop):
    attributes = "".join(f' a{i}="x"' for i in range(5800))
    body = ('<SOAP-ENV:Envelope xmlns:SOAP-ENV="http://schemas.xmlsoap.org/soap/envelope/"><SOAP-ENV:Body><x'
            + attributes + "/></SOAP-ENV:Body></SOAP-ENV:Envelope>").encode()
    head = (f"POST /soap/ITarvik HTTP/1.1\r\nHost: x\r\nContent-Type: text/xml\r\nConnection: close\r\n"
            f"Content-Length: {len(body)}\r\n\r\n").encode()
    while not stop.is_set():
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=60) as s:
                s.sendall(head + body)
                while s.recv(65536):
                    pass
        except OSError:
            pass


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


def main():
    port = free_port()
    proc = subprocess.Popen([service, "--listen", f"127.0.0.1:{port}", "--bank-file", BANKS],
                            stderr=subprocess.DEVNULL)
    try:
        time.sleep(1)
        print("quiet:   p50 %.2f ms  p99 %.2f ms" % good_latencies(port))
        stop = threading.Event()
        senders = [threading.Thread(target=crowded, args=(port, stop)) for _ in range(4)]
        for t in senders:
            t.start()
        time.sleep(0.5)
        print("crowded: p50 %.2f ms  p99 %.2f ms" % good_latencies(port))
        stop.set()
        for t in senders:
            t.join()
        stop.clear()
        dripper = threading.Thread(target=slow_heads, args=(port, stop))
        dripper.start()
        time.sleep(1)
        print("slow:    p50 %.2f ms  p99 %.2f ms" % good_latencies(port))
        stop.set()
        dripper.join()
    finally:
        proc.terminate()
        proc.wait()
    slow_bodies()


main()
