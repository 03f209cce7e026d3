# Sourced by the benchmark scripts: a scratch folder $work, background servers in pids (stopped on exit), and
# helpers for ports on 127.0.0.1.
work="$(mktemp -d /tmp/orvel-bench-XXXXXX)"
chmod 755 "$work" # nginx workers read the reply as an unprivileged user
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

free_port() { /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
wait_port() { for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0; sleep 0.05; done; return 1; }
