#!/usr/bin/env bash
# Times the HTTP connection beside curl against the same loopback servers in the same run: a download
# framed by length and one chunked in 16 KB chunks (nginx, started here from a temporary folder), and
# a POST (a Python sink that reads in large pieces). Reports MB/s and CPU seconds (user + system) per
# 100 MB, the best of RUNS runs of each, for three clients:
#   ours   the HTTP connection, timed by the driver from the connection's creation to its destruction
#          (building the POST's entity in memory is the caller's work and is left out);
#   floor  a bare blocking socket that moves the same bytes in calls of at most 1024 bytes, timed the
#          same way: what any client keeping to that piece size pays at least on this machine;
#   curl   the whole curl process, in its own (larger) pieces.
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
    # Chunked (the added body makes the length unknown), read from the file in 16 KB buffers, each
    # of which goes out as a chunk of its own: a size line every 16 KB.
    location /chunked/ {
      alias $work/; error_page 405 =200 \$uri; addition_types *; add_after_body /files/empty;
      sendfile off; output_buffers 2 16k;
    }
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

# Prints "wall cpu" in seconds for one run of the command (its output goes to $work/out): the
# driver's own "time" line when it prints one, else the process's times.
measure() {
    local TIMEFORMAT='%R %U %S' t
    t=$({ time "$@" >"$work/out" 2>&1; } 2>&1) || { cat "$work/out" >&2; exit 1; }
    if grep -q '^time ' "$work/out"; then
        awk '/^time / { printf "%.4f %.4f\n", $2, $3 }' "$work/out"
    else
        awk '{ printf "%.4f %.4f\n", $1, $2 + $3 }' <<<"$t"
    fi
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
    local name=$1 ours=$2 floor=$3 theirs=$4
    read -r ow oc <<<"$ours"
    read -r fw fc <<<"$floor"
    read -r tw tc <<<"$theirs"
    awk -v n="$name" -v mb="$mb" -v ow="$ow" -v oc="$oc" -v fw="$fw" -v fc="$fc" -v tw="$tw" -v tc="$tc" 'BEGIN {
        printf "%-19s ours %7.1f MB/s %5.3f CPU s/100MB | floor %7.1f MB/s %5.3f | curl %7.1f MB/s %5.3f\n",
            n, mb / ow, oc * 100 / mb, mb / fw, fc * 100 / mb, mb / tw, tc * 100 / mb
        printf "%-19s ours/curl: throughput %.2fx, CPU %.2fx | floor/curl: throughput %.2fx, CPU %.2fx\n",
            "", tw / ow, oc / tc, tw / fw, fc / tc }'
}

echo "loopback, ${mb} MB, best of ${runs}"
get=(-s -o /dev/null -X POST -d x)
for framing in length chunked; do
    case $framing in length) url=http://127.0.0.1:$port/files/data.bin ;; chunked) url=http://127.0.0.1:$port/chunked/data.bin ;; esac
    report "download ($framing)" "$(best "$driver" get "$url")" "$(best "$driver" floor-get "$url")" \
        "$(best curl "${get[@]}" "$url")"
done
report "POST" "$(best "$driver" post "http://127.0.0.1:$sink/up" "$bytes")" \
    "$(best "$driver" floor-post "http://127.0.0.1:$sink/up" "$bytes")" \
    "$(best curl -s -o /dev/null -H 'Expect:' -X POST -T "$work/data.bin" "http://127.0.0.1:$sink/up")"
