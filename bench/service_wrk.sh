#!/usr/bin/env bash
# IBAN checks per second against the local checking service over keep-alive on 127.0.0.1, by WDDX and by the JSON
# interface, without and with a users file (the login of every request checked: WDDX in the query, JSON by HTTP
# Basic), each next to nginx serving a static reply of the same size and type on the same machine in the same run;
# the ratios to nginx end the output (the aim is 1.0 or more). Every server gets 2 worker threads/processes. The service's CPU time per request is
# the figure a busy machine disturbs least; ROUNDS runs the three in turn that often.
# Usage: bench/service_wrk.sh [SECONDS] [CONNECTIONS] [ROUNDS]   (after a build; needs Debian's wrk, nginx-light and
# curl)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-10}"
connections="${2:-32}"
rounds="${3:-1}"
service="${ORVELWDDX_SERVICE:-build/src/service/orvelwddx-service}"
source bench/servers.sh

service_port="$(free_port)"
"$service" --listen "127.0.0.1:$service_port" --threads 2 2>"$work/service.log" &
pids+=($!)
service_pid=$!
wait_port "$service_port"
users_port="$(free_port)"
"$service" --listen "127.0.0.1:$users_port" --threads 2 --users-file src/service/data/users.example \
    2>"$work/users.log" &
pids+=($!)
users_pid=$!
wait_port "$users_port"
path="/tarvik?un=demo&pw=wexo&iban=DE89370400440532013000&id=0&name="
curl -s "http://127.0.0.1:$service_port$path" >"$work/reply.xml"
json_path="/api/v1/iban/DE89370400440532013000"
login="Authorization: Basic $(printf demo:wexo | base64)"
curl -sf "http://127.0.0.1:$service_port$json_path" >"$work/reply.json"

nginx_port="$(free_port)"
mkdir -p "$work/www"
cp "$work/reply.xml" "$work/www/tarvik"
mkdir -p "$work/www/api/v1/iban"
cp "$work/reply.json" "$work/www$json_path"
cat >"$work/nginx.conf" <<CONF
daemon off;
worker_processes 2;
pid $work/nginx.pid;
error_log $work/nginx-error.log;
events { worker_connections 1024; }
http {
    access_log off;
    keepalive_requests 1000000;
    open_file_cache max=16 inactive=1h;
    open_file_cache_valid 1h;
    sendfile on;
    server {
        listen 127.0.0.1:$nginx_port;
        root $work/www;
        location = /tarvik { default_type "text/xml; charset=windows-1252"; }
        location /api/ { default_type "application/json"; }
    }
}
CONF
nginx -c "$work/nginx.conf" -p "$work" &
pids+=($!)
wait_port "$nginx_port"

echo "replies: WDDX $(wc -c <"$work/reply.xml") bytes, JSON $(wc -c <"$work/reply.json") bytes; wrk -t2 -c$connections -d${seconds}s; $(nproc) cores"
# User and system time of a process, in clock ticks.
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
ticks_per_second="$(getconf CLK_TCK)"
# name|pid of its process (- for nginx)|URL|extra header
targets=("orvelwddx-service|$service_pid|http://127.0.0.1:$service_port$path|"
    "  with users file|$users_pid|http://127.0.0.1:$users_port$path|"
    "nginx (static)|-|http://127.0.0.1:$nginx_port$path|"
    "JSON service|$service_pid|http://127.0.0.1:$service_port$json_path|"
    "  with users file|$users_pid|http://127.0.0.1:$users_port$json_path|$login"
    "JSON nginx (static)|-|http://127.0.0.1:$nginx_port$json_path|")
declare -A rates
for round in $(seq "$rounds"); do
    # Every other round in the opposite order, so that none is always first after a pause.
    order=(0 1 2 3 4 5)
    [ $((round % 2)) = 1 ] || order=(5 4 3 2 1 0)
    for index in "${order[@]}"; do
        target="${targets[$index]}"
        IFS='|' read -r name pid url header <<<"$target"
        [ "$pid" = - ] || before="$(cpu_ticks "$pid")"
        wrk -t2 -c"$connections" -d"${seconds}s" --latency ${header:+-H "$header"} "$url" >"$work/wrk.txt"
        rate="$(awk '/Requests\/sec/ {print $2}' "$work/wrk.txt")"
        rates[$index]="${rates[$index]:-} $rate"
        cpu=-
        if [ "$pid" != - ]; then
            requests="$(awk '/requests in/ {print $1}' "$work/wrk.txt")"
            cpu="$(awk -v t="$(($(cpu_ticks "$pid") - before))" -v n="$requests" -v hz="$ticks_per_second" \
                'BEGIN {printf "%.1f", t / hz * 1e6 / n}')"
        fi
        printf '%-20s %12s requests/s   CPU %6s us/request   latency p50 %s p99 %s\n' "$name" "$rate" "$cpu" \
            "$(awk '$1 == "50%" {print $2}' "$work/wrk.txt")" "$(awk '$1 == "99%" {print $2}' "$work/wrk.txt")"
        grep -E "Non-2xx|Socket errors" "$work/wrk.txt" || true
    done
done
# Requests per second of the service over those of nginx, from the sums of all rounds.
ratio() { awk -v a="${rates[$1]}" -v b="${rates[$2]}" 'BEGIN {n = split(a, x, " "); split(b, y, " ");
    for (i = 1; i <= n; i++) {s += x[i]; t += y[i]}; printf "%.2fx", s / t}'; }
echo "ratio to nginx (aim >= 1.0x): WDDX $(ratio 0 2), with users file $(ratio 1 2); JSON $(ratio 3 5), with users file $(ratio 4 5)"
