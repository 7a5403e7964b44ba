#!/usr/bin/env bash
# Requests per second and 99th-percentile latency of the block-page server's "/status" and
# "/blocked" answers under wrk (16 connections), on a store with 10,000 to-dos, next to nginx
# serving a file as large as the "/blocked" body. The figure for `make bench` compares "/blocked"
# with nginx closing after every answer, as the block-page server does (one request per
# connection): like with like. The goal is a p99 within 1.2 times nginx's. The two are measured
# in turns, five rounds each, and the figure is the median of the rounds' ratios, so a busy
# moment of the machine does not fall on one side only.
#
# Beside each figure, the processor time each server spent per request in that round (user and
# system, from /proc): it moves much less than a latency percentile when the machine is busy.
#
#   bash bench/bench_blockpage.sh [build folder]     (default: build)
#   BENCH_DURATION (default 5s) and BENCH_ROUNDS (default 5) set the length of each measurement.
set -euo pipefail

build=${1:-build}
helper="$build/bench/blockpage_server"
nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)
duration=${BENCH_DURATION:-5s}
rounds=${BENCH_ROUNDS:-5}

for need in "$helper" "$nginx_bin" "$(command -v wrk || echo wrk)"; do
    if [ ! -x "$need" ]; then
        echo "bench_blockpage: $need is missing (build first; scripts/install-deps --bench installs nginx-light and wrk)" >&2
        exit 1
    fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/qh-blockpage-bench.XXXXXX")
pids=()
cleanup() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

listening() {
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

wait_until() {
    local tries=100
    until "$@"; do
        tries=$((tries - 1))
        if [ "$tries" -le 0 ]; then
            return 1
        fi
        sleep 0.1
    done
}

# --- the block-page server, on a store with one all-day rule and a few to-dos
"$helper" "$work/store" >"$work/server.out" 2>"$work/server.err" &
pids+=($!)
server_pid=$!
if ! wait_until grep -q '^blocked-bytes ' "$work/server.out"; then
    echo "bench_blockpage: the block-page server did not start:" >&2
    cat "$work/server.err" >&2
    exit 1
fi
port=$(awk '$1 == "port" {print $2}' "$work/server.out")
rule=$(awk '$1 == "rule" {print $2}' "$work/server.out")
bytes=$(awk '$1 == "blocked-bytes" {print $2}' "$work/server.out")

# --- nginx as this user, one process, with its own prefix and a file of the same size
nginx_port=$("$helper" --free-port)
mkdir -p "$work/nginx/html" "$work/nginx/logs" "$work/nginx/tmp"
head -c "$bytes" /dev/zero | tr '\0' 'x' >"$work/nginx/html/page.html"
cat >"$work/nginx/nginx.conf" <<EOF
daemon off;
master_process off;
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/logs/error.log warn;
events { worker_connections 1024; }
http {
    access_log off;
    client_body_temp_path $work/nginx/tmp/body;
    proxy_temp_path $work/nginx/tmp/proxy;
    fastcgi_temp_path $work/nginx/tmp/fastcgi;
    uwsgi_temp_path $work/nginx/tmp/uwsgi;
    scgi_temp_path $work/nginx/tmp/scgi;
    default_type text/html;
    server {
        listen 127.0.0.1:$nginx_port;
        root $work/nginx/html;
        location = /close/page.html {
            keepalive_timeout 0;
            alias $work/nginx/html/page.html;
        }
        location / { }
    }
}
EOF
"$nginx_bin" -p "$work/nginx" -c "$work/nginx/nginx.conf" -e "$work/nginx/logs/error.log" 2>"$work/nginx.err" &
pids+=($!)
nginx_pid=$!
if ! wait_until listening "$nginx_port"; then
    echo "bench_blockpage: nginx did not start:" >&2
    cat "$work/nginx.err" "$work/nginx/logs/error.log" >&2 2>/dev/null || true
    exit 1
fi

# Processor time of a process so far, in clock ticks (user and system).
ticks() {
    awk '{ print $14 + $15 }' "/proc/$1/stat"
}

declare -A p99_of cpu_of
measure() {
    local name=$1 url=$2 pid=$3 out rps p99 notes before after requests cpu
    before=$(ticks "$pid")
    out=$(wrk -t2 -c16 -d"$duration" --latency "$url")
    after=$(ticks "$pid")
    rps=$(awk '/^Requests\/sec:/ {print $2}' <<<"$out")
    p99=$(awk '$1 == "99%" {print $2}' <<<"$out")
    requests=$(awk '/requests in/ {print $1}' <<<"$out")
    cpu=$(awk -v t=$((after - before)) -v n="$requests" -v hz="$(getconf CLK_TCK)" \
        'BEGIN { if (n > 0) printf "%.1f", t / hz / n * 1e6; else print "-" }')
    p99_of[$name]="${p99_of[$name]:-} $(microseconds "$p99")"
    cpu_of[$name]="${cpu_of[$name]:-} $cpu"
    notes=$(grep -E 'Socket errors|Non-2xx' <<<"$out" | tr -s ' ' | paste -sd ';' - || true)
    printf '%-40s %14s %12s %12s  %s\n' "$name" "$rps" "$p99" "$cpu" "$notes"
}

# wrk's "812.00us", "1.29ms" or "1.02s" in microseconds.
microseconds() {
    awk -v t="$1" 'BEGIN {
        n = t + 0
        if (t ~ /us$/) print n; else if (t ~ /ms$/) print n * 1000; else if (t ~ /s$/) print n * 1000000; else print n
    }'
}

median() {
    tr ' ' '\n' <<<"$1" | awk 'NF' | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}

blocked_url="http://127.0.0.1:$port/blocked?rule=$rule&domain=news.example&from=https%3A%2F%2Fnews.example%2Fstory"
echo "block-page server on 127.0.0.1:$port, nginx on 127.0.0.1:$nginx_port; \"/blocked\" body: $bytes bytes"
echo "wrk -t2 -c16 -d$duration --latency, $rounds rounds in turns"
printf '%-40s %14s %12s %12s\n' "" "requests/s" "p99" "µs CPU/req"
# The first request waits for the return address's host to be looked up; the rounds measure the
# page as every later visit gets it. Both servers are first run at full load, unmeasured, so the
# first round of neither pays for caches, allocator pools and the kernel's socket memory.
wrk -t1 -c1 -d1s "$blocked_url" >/dev/null 2>&1 || true
wrk -t2 -c16 -d2s "$blocked_url" >/dev/null 2>&1 || true
wrk -t2 -c16 -d2s "http://127.0.0.1:$nginx_port/close/page.html" >/dev/null 2>&1 || true
measure "block-page server /status" "http://127.0.0.1:$port/status?rule=$rule" "$server_pid"
# Each round measures both, one right after the other and first in turns, and gives one ratio:
# the figure is the median of those ratios, so a slow drift of the machine's load, which moves
# both of a round alike, moves the figure much less than it moves either median.
ratios=""
for round in $(seq "$rounds"); do
    if ((round % 2)); then
        measure "block-page server /blocked" "$blocked_url" "$server_pid"
        measure "nginx, same size, closing" "http://127.0.0.1:$nginx_port/close/page.html" "$nginx_pid"
    else
        measure "nginx, same size, closing" "http://127.0.0.1:$nginx_port/close/page.html" "$nginx_pid"
        measure "block-page server /blocked" "$blocked_url" "$server_pid"
    fi
    last() { awk '{ print $NF }' <<<"$1"; }
    ratios="$ratios $(awk -v b="$(last "${p99_of[block-page server /blocked]}")" \
        -v n="$(last "${p99_of[nginx, same size, closing]}")" 'BEGIN { printf "%.4f", (n > 0 ? b / n : 0) }')"
done
measure "nginx, same size, keep-alive" "http://127.0.0.1:$nginx_port/page.html" "$nginx_pid"

printf 'processor time per request, medians: /blocked %s µs, nginx closing %s µs\n' \
    "$(median "${cpu_of[block-page server /blocked]}")" "$(median "${cpu_of[nginx, same size, closing]}")"
blocked=$(median "${p99_of[block-page server /blocked]}")
nginx=$(median "${p99_of[nginx, same size, closing]}")
echo "ratio of each round:$ratios"
awk -v b="$blocked" -v n="$nginx" -v ratio="$(median "$ratios")" -v summary="${QH_BENCH_SUMMARY:-}" 'BEGIN {
    what = "/blocked p99, 16 clients, one request a connection"
    verdict = ratio <= 1.2 ? "met" : "MISSED"
    printf "%-48s %10.2f %-6s | %-34s %10.2f | ratio %6.2f (goal <= 1.2) %s\n", what, b / 1000, "ms",
        "nginx, same bytes, closing", n / 1000, ratio, verdict
    if (summary != "")
        printf "%s\t%.2f ms\t%s\t%.2f\t%.2f\t1.2\t%s\n", what, b / 1000, "nginx, same bytes, closing", n / 1000,
            ratio, verdict >> summary
}'
