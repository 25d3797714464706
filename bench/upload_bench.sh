#!/usr/bin/env bash
# Times `pxupload upload` beside curl on loopback, in the same run, sending the same multipart bodies
# to the same servers: 4 pictures of 20 MB, 200 pictures of 200 KB and 4 pictures of 200 MB (random
# bytes named *.jpg), to
#   refserver  the reference upload server (Python), a fresh store for every measurement; it checks
#              every body byte for byte, and afterwards the store must hold every picture whole;
#   sink       nginx, which reads every POST body whole before it answers one fixed reply (Status=OK,
#              an ImageID, itself as Server, Offset=0); its access log must show every body read.
# Per picture both clients send what the client sends for a new picture: the "GetImageID" form, then
# the "UploadImage" multipart body with the ImageID (and the cleaned cookie) of that reply. pxupload
# runs MaxConnections sender threads; curl runs as one process per step, with as many parallel
# transfers (-Z): the GetImageID forms, then, once the bodies are built from the replies (not timed:
# the bodies are the client's work, not curl's), the uploads. Before timing, one picture sent by
# pxupload to a capturing server proves the bodies built for curl equal the client's byte for byte
# (boundary aside).
# Reports MB/s of picture bytes (MB = 2^20 bytes), CPU seconds (user + system of the client and its
# children, from the shell's `times`) per 100 MB, and the largest resident set of one client process
# (/usr/bin/time), each the best of RUNS, as a markdown table, with the ratios pxupload/curl, and how
# busy the server was. The client streams every picture from its file: its largest resident set must
# stay under MAX_RSS_MB whatever the pictures' size, or the benchmark fails.
#   bench/upload_bench.sh [BUILD_DIR] [RUNS] [SETS]   defaults: build/upload-bench, 3, "large small huge"
set -euo pipefail
export LC_NUMERIC=C # decimal points in $EPOCHREALTIME, `times` and awk
cd "$(dirname "$0")/.."
build=${1:-build/upload-bench}
runs=${2:-3}
read -r -a picture_sets <<<"${3:-large small huge}"
max_rss_mb=32
connections=4
auth=bench-auth session=bench-session uid=bench-uid
for tool in nginx curl python3 cmake ninja /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "upload_bench: $tool is missing (scripts/deps installs it)" >&2; exit 1; }
done
# Both clients go straight to 127.0.0.1.
unset http_proxy HTTP_PROXY https_proxy HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPX_TESTS=OFF >/dev/null
cmake --build "$build" --target pxupload >/dev/null
pxupload=$(realpath "$build/apps/pxupload/pxupload")
helper=(python3 bench/upload_bench_bodies.py)
identity=(--auth "$auth" --session "$session" --uid "$uid")

# Work files live on tmpfs when there is room: on a disk file system, creating the hundreds of small
# files of a curl step just after the previous step's were deleted costs the creating process more in
# inode allocation (ext4's recently_deleted scan) than the uploads themselves, and would be timed.
if [ -d /dev/shm ] && [ -w /dev/shm ] && [ "$(df --output=avail -k /dev/shm | tail -1)" -gt $((1024 * 1024)) ]; then
    work=$(mktemp -d -p /dev/shm)
else
    work=$(mktemp -d)
fi
chmod 755 "$work"
# Servers started here and not yet waited for (so that no id is ever reused under us).
capture_pid='' nginx_pid='' ref_pid=''
cleanup() {
    local pid
    for pid in $capture_pid $nginx_pid $ref_pid; do kill "$pid" 2>/dev/null || true; done
    for pid in $capture_pid $nginx_pid $ref_pid; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

die() {
    echo "upload_bench: $*" >&2
    exit 1
}

# Waits until FILE is not empty, or fails naming WHAT.
wait_for_file() {
    local file=$1 what=$2
    for _ in $(seq 100); do
        [ -s "$file" ] && return 0
        sleep 0.1
    done
    die "$what did not start"
}

# --- pictures -------------------------------------------------------------------------------------
declare -A counts=([large]=4 [small]=200 [huge]=4) sizes=([large]=$((20 * 1048576)) [small]=$((200 * 1024)) [huge]=$((200 * 1048576)))
declare -A set_names=([large]="4 x 20 MB" [small]="200 x 200 KB" [huge]="4 x 200 MB")
for set in "${picture_sets[@]}"; do
    [ -n "${counts[$set]:-}" ] || die "unknown picture set $set (large, small, huge)"
done
# The capture check below sends one small picture.
# Each picture is a small JPEG followed by random bytes: the client takes only files whose content
# begins as a JPEG.
jpeg_head="$work/head.jpg"
[ -s "$jpeg_head" ] || { printf 'P6 8 8 255\n'; head -c 192 /dev/zero; } | cjpeg >"$jpeg_head"
head_size=$(stat -c %s "$jpeg_head")
for set in small "${picture_sets[@]}"; do
    [ -d "$work/sets/$set" ] && continue
    mkdir -p "$work/sets/$set"
    for ((i = 1; i <= counts[$set]; i++)); do
        { cat "$jpeg_head"; head -c "$((sizes[$set] - head_size))" /dev/urandom; } \
            >"$(printf '%s/sets/%s/picture_%03d.jpg' "$work" "$set" "$i")"
    done
done
mkdir -p "$work/config" # an empty preferences store: no proxy, nothing remembered
client_env=(env "XDG_CONFIG_HOME=$work/config")

# --- the bodies built for curl are the client's -----------------------------------------------------
mkdir -p "$work/capture"
"${helper[@]}" capture --port-file "$work/capture.port" --dir "$work/capture" --timeout 60 &
capture_pid=$!
wait_for_file "$work/capture.port" "the capturing server"
"${client_env[@]}" "$pxupload" upload --param "Server=127.0.0.1:$(cat "$work/capture.port")" \
    --param "AuthenticationID=$auth" --param "SessionID=$session" --param "UID=$uid" \
    "$work/sets/small/picture_001.jpg" >"$work/capture.out" 2>&1 || { cat "$work/capture.out" >&2; die "pxupload failed against the capturing server"; }
wait "$capture_pid" || { capture_pid=; die "the capturing server failed"; }
capture_pid=
"${helper[@]}" compare --dir "$work/capture" --picture "$work/sets/small/picture_001.jpg" "${identity[@]}"
echo "check: the bodies built for curl equal pxupload's byte for byte (boundary aside)" >&2

# --- the sink -------------------------------------------------------------------------------------
# A port from the kernel, released for nginx to take (nginx cannot report a port of its own choice).
sink_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
mkdir -p "$work/nginx/www"
cat >"$work/nginx/nginx.conf" <<CONF
daemon off;
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 256; }
http {
  log_format bench '\$request_uri \$request_length \$content_length \$status';
  access_log $work/nginx/access.log bench;
  client_body_temp_path $work/nginx/body; proxy_temp_path $work/nginx/proxy; fastcgi_temp_path $work/nginx/fcgi;
  uwsgi_temp_path $work/nginx/uwsgi; scgi_temp_path $work/nginx/scgi;
  client_max_body_size 0;
  # Bodies stay in memory: the sink must not wait on a disk.
  client_body_buffer_size 32m;
  server {
    listen 127.0.0.1:$sink_port;
    default_type text/plain;
    log_not_found off;
    # A plain "return" answers before the body has arrived (and a client may stop sending), so the
    # mirror reads every body whole first; the static handler then fails on the missing file, and its
    # error page is the reply.
    location / { mirror /_mirror; mirror_request_body on; root $work/nginx/www; error_page 404 405 =200 /_reply; }
    location = /_mirror { internal; access_log off; return 204; }
    location = /_reply { internal; return 200 "Status=OK\nImageID=SINK1\nServer=127.0.0.1:$sink_port\nOffset=0\n"; }
  }
}
CONF
nginx -c "$work/nginx/nginx.conf" -p "$work/nginx/" &
nginx_pid=$!
for _ in $(seq 50); do
    curl -s -o "$work/nginx/probe" -X POST -d x "http://127.0.0.1:$sink_port/GetImageID" 2>/dev/null && break
    sleep 0.1
done
grep -qx 'Status=OK' "$work/nginx/probe" 2>/dev/null || die "nginx did not start as the sink (port $sink_port): $(cat "$work/nginx/error.log" 2>/dev/null)"

# --- the reference server, fresh for every measurement -----------------------------------------------
ref_port=
start_refserver() {
    rm -rf "$work/ref" && mkdir -p "$work/ref/store"
    python3 tools/refserver/refserver.py --port 0 --port-file "$work/ref/port" --store "$work/ref/store" \
        --quiet >"$work/ref/log" 2>&1 &
    ref_pid=$!
    wait_for_file "$work/ref/port" "the reference server"
    ref_port=$(head -1 "$work/ref/port")
}
stop_refserver() {
    local pid=$ref_pid
    kill "$pid"
    ref_pid=
    wait "$pid" || die "the reference server did not stop cleanly: $(cat "$work/ref/log")"
}

# Sets `address` to the server's for a measurement and `server_pids` to the processes that serve it;
# starts what it needs. (Functions that start or stop servers run in this shell, never in a command
# substitution, so that cleanup knows them.)
begin() {
    case $1 in
    refserver)
        start_refserver
        address=127.0.0.1:$ref_port
        server_pids=$ref_pid
        ;;
    sink)
        : >"$work/nginx/access.log"
        address=127.0.0.1:$sink_port
        server_pids=$(cat "/proc/$nginx_pid/task/$nginx_pid/children") # the workers
        ;;
    esac
}

# CPU seconds (user + system, all threads) that the server's processes have used so far, to tell
# whether the server rather than the client set the pace.
clock_ticks=$(getconf CLK_TCK)
server_cpu() {
    local pid ticks=0 fields
    for pid in $server_pids; do
        fields=$(sed 's/^.*) //' "/proc/$pid/stat") # after "pid (name) ": state is field 1, utime 12
        ticks=$((ticks + $(awk '{ print $12 + $13 }' <<<"$fields")))
    done
    awk -v t="$ticks" -v hz="$clock_ticks" 'BEGIN { printf "%.2f\n", t / hz }'
}

# Checks what the server received from a measurement of set $2, and stops what begin started.
finish() {
    local server=$1 set=$2 client=$3
    case $server in
    refserver)
        "${helper[@]}" state --url "http://127.0.0.1:$ref_port/_state" --pictures "$work/sets/$set" \
            --store "$work/ref/store" || die "$client to $server, $set pictures: the store is wrong"
        stop_refserver
        ;;
    sink)
        # A request's line is logged just after its reply has gone.
        for _ in $(seq 50); do
            [ "$(wc -l <"$work/nginx/access.log")" -ge $((2 * counts[$set])) ] && break
            sleep 0.1
        done
        "${helper[@]}" sinklog --log "$work/nginx/access.log" --pictures "$work/sets/$set" ||
            die "$client to $server, $set pictures: the sink did not receive everything"
        ;;
    esac
}

# Runs a command (its output goes to $work/out) and sets `measured` to "wall cpu maxrss_kb server_cpu":
# the wall clock, the CPU (user + system) of the processes this shell waited for meanwhile, from
# `times` to the millisecond (the command, its children and /usr/bin/time's own millisecond or so), the
# command's largest resident set from /usr/bin/time, and the server's CPU seconds meanwhile. Runs in
# this shell: `times` in a subshell would see none.
timed() {
    local start end server_before server_after
    server_before=$(server_cpu)
    times >"$work/times.before"
    start=$EPOCHREALTIME
    /usr/bin/time -f '%M' -o "$work/rss" "$@" >"$work/out" 2>&1 || { cat "$work/out" >&2; die "failed: $*"; }
    end=$EPOCHREALTIME
    times >"$work/times.after"
    server_after=$(server_cpu)
    measured=$(awk -v wall="$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')" -v rss="$(tail -1 "$work/rss")" \
        -v server="$(awk -v a="$server_before" -v b="$server_after" 'BEGIN { print b - a }')" '
        # `times` prints the shell'"'"'s times, then its children'"'"'s: "XmY.YYYs XmY.YYYs".
        function seconds(t) { split(t, p, /[ms]/); return p[1] * 60 + p[2] }
        FNR == 2 { cpu[FILENAME] = seconds($1) + seconds($2) }
        END { printf "%.4f %.4f %d %.2f\n", wall, cpu[ARGV[2]] - cpu[ARGV[1]], rss, server }' "$work/times.before" "$work/times.after")
}

# Each sets `result` to "wall cpu maxrss_kb server_cpu".
measure_pxupload() {
    local server=$1 set=$2 n=${counts[$2]}
    begin "$server"
    timed "${client_env[@]}" "$pxupload" upload --param "Server=$address" \
        --param "AuthenticationID=$auth" --param "SessionID=$session" --param "UID=$uid" \
        --param "MaxConnections=$connections" "$work/sets/$set"
    result=$measured
    grep -q "^Uploaded $n of $n pictures" "$work/out" || { cat "$work/out" >&2; die "pxupload to $server: not every picture uploaded"; }
    finish "$server" "$set" pxupload
}

measure_curl() {
    local server=$1 set=$2 n=${counts[$2]} dir=$work/curl
    begin "$server"
    rm -rf "$dir" && mkdir -p "$dir"
    local parallel=(-s -S --no-progress-meter -Z --parallel-max "$connections" --parallel-immediate)
    "${helper[@]}" ids --pictures "$work/sets/$set" --server "$address" --dir "$dir" "${identity[@]}"
    local ids uploads
    timed curl "${parallel[@]}" -K "$dir/id.curl"
    ids=$measured
    "${helper[@]}" bodies --pictures "$work/sets/$set" --dir "$dir" "${identity[@]}" ||
        die "curl to $server, $set pictures: a GetImageID failed"
    timed curl "${parallel[@]}" -K "$dir/upload.curl"
    uploads=$measured
    "${helper[@]}" check --dir "$dir" --count "$n" || die "curl to $server, $set pictures: an upload failed"
    finish "$server" "$set" curl
    rm -rf "$dir"
    result=$(awk '{ w += $1; c += $2; if ($3 > m) m = $3; s += $4 } END { printf "%.4f %.4f %d %.2f\n", w, c, m, s }' <<<"$ids
$uploads")
}

# --- the runs -------------------------------------------------------------------------------------
: >"$work/results"
for ((run = 1; run <= runs; run++)); do
    # The order alternates so that neither client always runs first.
    if ((run % 2)); then clients=(pxupload curl); else clients=(curl pxupload); fi
    for server in refserver sink; do
        for set in "${picture_sets[@]}"; do
            for client in "${clients[@]}"; do
                "measure_$client" "$server" "$set"
                echo "$server $set $client $result" >>"$work/results"
                echo "run $run/$runs: $server $set $client: wall s, CPU s, max RSS KB, server CPU s = $result" >&2
            done
        done
    done
done

# --- the table ------------------------------------------------------------------------------------
echo
echo "Loopback, $connections connections, best of $runs runs; MB = 2^20 bytes of picture data; CPU = user + system"
echo "of the client process and its children; RSS = the largest resident set of one client process; server"
echo "busy = the server's CPU seconds / wall seconds in the fastest run (near 100% per busy core: the server set the pace)."
echo "curl: its GetImageID step and its upload step added (two processes; the bodies built in between are not timed)."
echo
sizes_table=$(for set in "${picture_sets[@]}"; do printf '%s\t%s\t%s\n' "$set" "$((counts[$set] * sizes[$set]))" "${set_names[$set]}"; done)
awk -v sets_list="${picture_sets[*]}" -v max_rss_mb="$max_rss_mb" '
    FNR == NR { split($0, f, "\t"); bytes[f[1]] = f[2]; name[f[1]] = f[3]; next }
    {
        key = $1 " " $2 " " $3
        if (!(key in wall) || $4 < wall[key]) { wall[key] = $4; busy[key] = $7 / $4 }
        if (!(key in cpu) || $5 < cpu[key]) cpu[key] = $5
        if (!(key in rss) || $6 < rss[key]) rss[key] = $6
        if ($3 == "pxupload" && (!(key in worst) || $6 > worst[key])) worst[key] = $6
    }
    END {
        nsets = split(sets_list, sets, " ")
        for (j = 1; j <= nsets; j++) mb[sets[j]] = bytes[sets[j]] / 1048576
        print "| server | pictures | client | MB/s | CPU s / 100 MB | max RSS MB | server busy |"
        print "|---|---|---|---:|---:|---:|---:|"
        split("refserver sink", servers, " "); split("pxupload curl", clients, " ")
        for (i = 1; i <= 2; i++) for (j = 1; j <= nsets; j++) for (k = 1; k <= 2; k++) {
            key = servers[i] " " sets[j] " " clients[k]
            printf "| %s | %s | %s | %.1f | %.3f | %.1f | %.0f%% |\n", servers[i], name[sets[j]], clients[k],
                mb[sets[j]] / wall[key], cpu[key] * 100 / mb[sets[j]], rss[key] / 1024, busy[key] * 100
        }
        print ""
        print "| server | pictures | throughput pxupload/curl | CPU pxupload/curl | max RSS pxupload/curl |"
        print "|---|---|---:|---:|---:|"
        for (i = 1; i <= 2; i++) for (j = 1; j <= nsets; j++) {
            p = servers[i] " " sets[j] " pxupload"; c = servers[i] " " sets[j] " curl"
            printf "| %s | %s | %.2fx | %.2fx | %.2fx |\n", servers[i], name[sets[j]],
                wall[c] / wall[p], cpu[p] / cpu[c], rss[p] / rss[c]
        }
        # Every run counts here, not only the best: the bound holds for each.
        over = 0
        for (key in worst) if (worst[key] > max_rss_mb * 1024) { over = 1; printf "over the bound: %s, %.1f MB\n", key, worst[key] / 1024 }
        printf "\npxupload max RSS in every run under %d MB: %s\n", max_rss_mb, over ? "NO" : "yes"
        exit over
    }' <(echo "$sizes_table") "$work/results"
