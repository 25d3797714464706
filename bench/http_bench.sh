#!/usr/bin/env bash
# Times the HTTP connection beside curl against the same loopback servers in the same run: a download
# framed by length and one chunked (nginx, started here from a temporary folder), and a POST (a Python
# sink that reads in large pieces). Reports MB/s and CPU seconds (user + system) per 100 MB for both,
# and the ratios; the best of RUNS runs of each.
#   bench/http_bench.sh [BUILD_DIR] [MEGABYTES] [RUNS]     defaults: build/bench, 200, 3
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/bench}
mb=${2:-200}
runs=${3:-3}
for tool in nginx curl python3; do
    command -v "$tool" >/dev/null || { echo "$tool is missing" >&2; exit 1; }
done
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPX_BENCH=ON -DPX_TESTS=OFF >/dev/null
cmake --build "$build" --target http_bench >/dev/null
driver=$build/bench/http_bench

work=$(mktemp -d)
chmod 755 "$work"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

bytes=$((mb * 1024 * 1024))
head -c "$bytes" /dev/zero | tr '\0' 'z' >"$work/data.bin"
: >"$work/empty"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
cat >"$work/nginx.conf" <<CONF
daemon off;
worker_processes 1;
pid $work/nginx.pid;
error_log $work/error.log;
events { worker_connections 16; }
http {
  access_log off;
  sendfile on;
  client_body_temp_path $work/body; proxy_temp_path $work/proxy; fastcgi_temp_path $work/fcgi;
  uwsgi_temp_path $work/uwsgi; scgi_temp_path $work/scgi;
  server {
    listen 127.0.0.1:$port;
    location /files/ { alias $work/; error_page 405 =200 \$uri; }
    location /chunked/ { alias $work/; error_page 405 =200 \$uri; addition_types *; add_after_body /files/empty; }
  }
}
CONF
nginx -c "$work/nginx.conf" -p "$work/" &
pids+=($!)
python3 bench/http_bench_sink.py >"$work/sink.port" &
pids+=($!)
for _ in $(seq 50); do
    [ -s "$work/sink.port" ] && curl -s -o /dev/null -X POST -d x "http://127.0.0.1:$port/files/empty" && break
    sleep 0.1
done
sink=$(cat "$work/sink.port")

# Prints "wall cpu" in seconds for one run of the command (its output goes to $work/out).
measure() {
    local TIMEFORMAT='%R %U %S' t
    t=$({ time "$@" >"$work/out" 2>&1; } 2>&1) || { cat "$work/out" >&2; exit 1; }
    awk '{ printf "%.4f %.4f\n", $1, $2 + $3 }' <<<"$t"
}

# The best wall time and the best CPU time of $runs runs.
best() {
    local wall=999999 cpu=999999 w c
    for ((i = 0; i < runs; i++)); do
        read -r w c < <(measure "$@")
        wall=$(awk -v a="$wall" -v b="$w" 'BEGIN { print (b < a ? b : a) }')
        cpu=$(awk -v a="$cpu" -v b="$c" 'BEGIN { print (b < a ? b : a) }')
    done
    echo "$wall $cpu"
}

report() {
    local name=$1 ours=$2 theirs=$3
    read -r ow oc <<<"$ours"
    read -r tw tc <<<"$theirs"
    awk -v n="$name" -v mb="$mb" -v ow="$ow" -v oc="$oc" -v tw="$tw" -v tc="$tc" 'BEGIN {
        printf "%-22s ours %8.1f MB/s %6.3f CPU s/100MB | curl %8.1f MB/s %6.3f CPU s/100MB | throughput %.2fx curl, CPU %.2fx curl\n",
            n, mb / ow, oc * 100 / mb, mb / tw, tc * 100 / mb, (mb / ow) / (mb / tw), (oc / mb) / (tc / mb) }'
}

echo "loopback, ${mb} MB, best of ${runs}"
report "download (length)" "$(best "$driver" get "http://127.0.0.1:$port/files/data.bin")" \
    "$(best curl -s -o /dev/null -X POST -d x "http://127.0.0.1:$port/files/data.bin")"
report "download (chunked)" "$(best "$driver" get "http://127.0.0.1:$port/chunked/data.bin")" \
    "$(best curl -s -o /dev/null -X POST -d x "http://127.0.0.1:$port/chunked/data.bin")"
report "POST" "$(best "$driver" post "http://127.0.0.1:$sink/up" "$bytes")" \
    "$(best curl -s -o /dev/null -H 'Expect:' -X POST -T "$work/data.bin" "http://127.0.0.1:$sink/up")"
