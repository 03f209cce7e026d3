#!/usr/bin/env bash
# The object against bare libcurl, both talking to nginx serving a static reply on 127.0.0.1 (one worker, so the
# server stays out of the way): client CPU per check over keep-alive HTTP (check_cpu), and the first HTTPS check of
# a new object against a fresh connection (first_tls).
# Usage: bench/nginx_bench.sh [BLOCKS] [CHECKS] [TLS_ROUNDS]   (after a build; needs nginx-light and openssl)
# Instructions instead of time, repeatable on a loaded machine (compare TTarvik::TestIban and curl_easy_perform,
# inclusive, in callgrind_annotate --inclusive=yes):
#   ORVELWDDX_BENCH_WRAP="valgrind --tool=callgrind --callgrind-out-file=/tmp/check.cg" bench/nginx_bench.sh 1 500 3
set -euo pipefail
cd "$(dirname "$0")/.."
blocks="${1:-10}"
checks="${2:-2000}"
rounds="${3:-50}"
bench="${ORVELWDDX_BENCH_DIR:-build/bench}"
source bench/servers.sh

port="$(free_port)"
tls_port="$(free_port)"
mkdir -p "$work/www"
"$bench/check_cpu" --reply >"$work/www/tarvik"
chmod 644 "$work/www/tarvik"
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 -subj /CN=localhost \
    -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
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
    server {
        listen 127.0.0.1:$tls_port ssl;
        ssl_certificate $work/cert.pem;
        ssl_certificate_key $work/key.pem;
        root $work/www;
        location = /tarvik { default_type "text/xml; charset=windows-1252"; }
    }
}
CONF
nginx -c "$work/nginx.conf" -p "$work" &
pids+=($!)
wait_port "$port"
wait_port "$tls_port"
echo "reply: $(wc -c <"$work/www/tarvik") bytes; $(nproc) cores; load $(cut -d' ' -f1-3 /proc/loadavg)"
${ORVELWDDX_BENCH_WRAP:-} "$bench/check_cpu" "127.0.0.1:$port" "$blocks" "$checks"
${ORVELWDDX_BENCH_WRAP:-} "$bench/first_tls" "127.0.0.1:$tls_port" "$rounds"
