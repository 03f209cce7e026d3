#!/usr/bin/env bash
# Client CPU per check: TTarvik::TestIban next to a bare libcurl GET, both over keep-alive against nginx serving a
# static reply on 127.0.0.1 (one worker, so the server stays out of the way).
# Usage: bench/check_cpu.sh [BLOCKS] [CHECKS]   (after a build; needs Debian's nginx-light)
# Instructions instead of time, repeatable on a loaded machine (compare TTarvik::TestIban and curl_easy_perform,
# inclusive, in callgrind_annotate --inclusive=yes):
#   ORVELWDDX_BENCH_WRAP="valgrind --tool=callgrind --callgrind-out-file=/tmp/check.cg" bench/check_cpu.sh 2 500
set -euo pipefail
cd "$(dirname "$0")/.."
blocks="${1:-10}"
checks="${2:-2000}"
bench="${ORVELWDDX_CHECK_CPU:-build/bench/check_cpu}"
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

port="$(free_port)"
mkdir -p "$work/www"
"$bench" --reply >"$work/www/tarvik"
chmod 644 "$work/www/tarvik"
cat >"$work/nginx.conf" <<CONF
daemon off;
worker_processes 1;
pid $work/nginx.pid;
error_log $work/nginx-error.log;
events { worker_connections 64; }
http {
    access_log off;
    keepalive_requests 1000000;
    keepalive_timeout 300s;
    open_file_cache max=16 inactive=1h;
    open_file_cache_valid 1h;
    server {
        listen 127.0.0.1:$port;
        root $work/www;
        location = /tarvik { default_type "text/xml; charset=windows-1252"; }
    }
}
CONF
nginx -c "$work/nginx.conf" -p "$work" &
pids+=($!)
wait_port "$port"
echo "reply: $(wc -c <"$work/www/tarvik") bytes; $(nproc) cores; load $(cut -d' ' -f1-3 /proc/loadavg)"
${ORVELWDDX_BENCH_WRAP:-} "$bench" "127.0.0.1:$port" "$blocks" "$checks"
