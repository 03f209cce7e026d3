#!/usr/bin/env python3
"""A good client's latency on the local service while it is attacked over loopback.

crowded: 4 senders post SOAP bodies whose one element carries thousands of attributes, in a loop.
slow:    one address (127.0.0.1) opens 2,000 connections that stop in the middle of their request head;
         the good client comes from 127.0.0.2.
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
        print("slow:    p50 %.2f ms  p99 %.2f ms" % good_latencies(port))
        for s in slow:
            s.close()
    finally:
        proc.terminate()
        proc.wait()


main()
