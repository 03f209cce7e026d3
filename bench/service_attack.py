#!/usr/bin/env python3
"""A good client's latency on the local service while it is attacked over loopback.

crowded:  4 senders post SOAP bodies whose one element carries thousands of attributes, in a loop.
oversize: 4 senders post 979 kB SOAP bodies of one element with 90,000 attributes, in a loop.
slow:     one address (127.0.0.1) opens 2,000 connections that send a header line every 4 s and never end their
          request head; the good client comes from 127.0.0.2.
guessing: 4 senders guess passwords from 127.0.0.1 (each guess a PBKDF2 run until the address is locked out).
Each once without and once with a users file (the good client logs in, the attackers do not).
slow bodies, 64 from one address: 64 connections from 127.0.0.1 send a request head and then one byte of body
          every 2 s, reconnecting when closed; the good client comes from 127.0.0.1 too, as every local program does.
slow bodies, 1,000 from 16 addresses: the same from 127.0.1.1 to 127.0.1.16; the good client from 127.0.0.2.
slow heads, 1,000 from 16 addresses: one header line every 2 s, never ending the head, reconnecting when closed.
spray:    failed logins for other names (5 each from 2,100 addresses, 10,500 in all) while the good client, logged in
          before, asks; afterwards, whether a user locked out before the spray is still locked out.
bodies:   1,000 connections each send a body of the limit less one byte (64 KiB - 1) and hold back the last byte;
          the service's resident memory before, while they are open, and after they have closed.
Usage: bench/service_attack.py [SERVICE_BINARY [first,slow,spray]]   (after a build; prints p50/p99 of good IBAN
checks; the second argument picks the shapes: first round's, the slow ones, the spray)
"""
import os, socket, subprocess, sys, tempfile, threading, time

service = sys.argv[1] if len(sys.argv) > 1 else "build/src/service/orvelwddx-service"
BANKS = "/usr/share/ktoblzcheck/blz_20200420.txt"
USERS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src", "service", "data", "users.example")
GOOD = (b"GET /tarvik?un=demo&pw=wexo&iban=DE89370400440532013000&id=0&name= HTTP/1.1\r\nHost: x\r\n"
        b"Connection: close\r\n\r\n")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def good_latencies(port, count=200, source="127.0.0.2", pause=0.0, timeout=60, budget=None):
    """p50 and p99 in ms; a request that fails or gets no complete answer counts as the time-out. With a budget (s),
    no request starts after it is spent."""
    times = []
    began = time.perf_counter()
    for _ in range(count):
        if budget and times and time.perf_counter() - began > budget:
            break
        start = time.perf_counter()
        answer = b""
        try:
            with socket.socket() as s:
                s.bind((source, 0))
                s.settimeout(timeout)
                s.connect(("127.0.0.1", port))
                s.sendall(GOOD)
                while chunk := s.recv(65536):
                    answer += chunk
        except OSError:
            pass
        took = (time.perf_counter() - start) * 1000
        times.append(took if answer.startswith(b"HTTP/1.1 200") else max(took, timeout * 1000))
        time.sleep(pause)
    times.sort()
    return times[len(times) // 2], times[max(0, int(len(times) * 0.99) - 1)]


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


def drip(port, stop, count, sources, head, piece):
    """count connections from sources that send head and then piece every 2 s; each one closed is opened again."""
    def opened(number):
        s = socket.socket()
        s.bind((sources[number % len(sources)], 0))
        s.settimeout(2)
        try:
            s.connect(("127.0.0.1", port))
            s.sendall(head)
            s.setblocking(False)
        except OSError:
            pass
        return s

    held = [opened(n) for n in range(count)]
    while not stop.wait(2):
        for n, s in enumerate(held):
            try:
                if s.send(piece) <= 0:
                    raise OSError
            except OSError:
                s.close()
                if stop.is_set():
                    break
                held[n] = opened(n)
    for s in held:
        s.close()


SLOW_BODY = (b"POST /soap/ITarvik HTTP/1.1\r\nHost: x\r\nContent-Type: text/xml\r\nContent-Length: 60000\r\n\r\n", b"<")
SLOW_HEAD = (b"GET /tarvik?iban=DE HTTP/1.1\r\n", b"X-Slow: 1\r\n")
SIXTEEN = ["127.0.1.%d" % n for n in range(1, 17)]


def slow_shapes():
    port = free_port()
    proc = subprocess.Popen([service, "--listen", f"127.0.0.1:{port}", "--bank-file", BANKS],
                            stderr=subprocess.DEVNULL)
    try:
        time.sleep(1)
        for name, count, sources, shape, good in (("64 slow bodies, 127.0.0.1", 64, ["127.0.0.1"], SLOW_BODY,
                                                   "127.0.0.1"),
                                                  ("1,000 slow bodies, 16 addresses", 1000, SIXTEEN, SLOW_BODY,
                                                   "127.0.0.2"),
                                                  ("1,000 slow heads, 16 addresses", 1000, SIXTEEN, SLOW_HEAD,
                                                   "127.0.0.2")):
            alone = good_latencies(port, 200, good, 0.02, 5)
            stop = threading.Event()
            dripper = threading.Thread(target=drip, args=(port, stop, count, sources) + shape)
            dripper.start()
            time.sleep(3)
            # 20 s: two time-outs of the slow connections and more
            attacked = good_latencies(port, 200, good, 0.1, 5, 20)
            stop.set()
            dripper.join()
            print("%-32s alone p50 %.2f ms p99 %.2f ms; attacked p50 %.2f ms p99 %.2f ms (%.1fx)"
                  % ((name + ":",) + alone + attacked + (attacked[1] / alone[1],)))
            time.sleep(2)
    finally:
        proc.terminate()
        proc.wait()


def spray():
    port = free_port()
    log = tempfile.TemporaryFile("w+")
    proc = subprocess.Popen([service, "--listen", f"127.0.0.1:{port}", "--bank-file", BANKS, "--users-file", USERS],
                            stderr=log)
    try:
        time.sleep(1)
        def ask(user, password, source):
            with socket.socket() as s:
                s.bind((source, 0))
                s.settimeout(30)
                s.connect(("127.0.0.1", port))
                s.sendall((f"GET /tarvik?un={user}&pw={password}&iban=DE89370400440532013000&id=0&name= HTTP/1.1\r\n"
                           "Host: x\r\nConnection: close\r\n\r\n").encode())
                answer = b""
                while chunk := s.recv(65536):
                    answer += chunk
                return answer
        # demo is locked out before the spray; a second lock-out after it must last longer than the first.
        def lock_demo():
            for n in range(5):
                ask("demo", f"wrong{n}", "127.0.9.1")
        lock_demo()
        alone = good_latencies(port, 200, "127.0.0.2", 0.0, 30)
        stop = threading.Event()
        sources = ["127.%d.%d.%d" % (2 + n // 65025, n // 255 % 255, 1 + n % 255) for n in range(2100)]

        def sprayer(part):
            for n in range(part, 10500, 4):
                if stop.is_set():
                    return
                try:
                    ask(f"name{n}", "guess", sources[n // 5])
                except OSError:
                    pass

        threads = [threading.Thread(target=sprayer, args=(p,)) for p in range(4)]
        start = time.perf_counter()
        for t in threads:
            t.start()
        time.sleep(0.5)
        attacked = good_latencies(port, 200, "127.0.0.2", 0.05, 30)
        for t in threads:
            t.join()
        took = time.perf_counter() - start
        time.sleep(max(0.0, 31 - took))
        lock_demo()
    finally:
        proc.terminate()
        proc.wait()
    log.seek(0)
    lockouts = [line.split("refused for ")[1].strip() for line in log if 'user "demo"' in line]
    print("spray:  alone p50 %.2f ms p99 %.2f ms; sprayed p50 %.2f ms p99 %.2f ms (%.1fx); spray took %.0f s; "
          "demo's lock-outs before and after it: %s" % (alone + attacked + (attacked[1] / alone[1], took,
                                                         ", ".join(lockouts))))


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


shapes = sys.argv[2].split(",") if len(sys.argv) > 2 else ["first", "slow", "spray"]
if "first" in shapes:
    for users in (False, True):
        run(users)
    slow_bodies()
if "slow" in shapes:
    slow_shapes()
if "spray" in shapes:
    spray()
