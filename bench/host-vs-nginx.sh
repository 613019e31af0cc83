#!/usr/bin/env bash
# Measures orvane-host against nginx (sendfile on, autoindex on) serving the
# same folder over loopback in the same run, and prints each figure with
# its ratio: large-file throughput with 1 and 8 clients, small-file and
# folder-list requests per second (wrk), a gallery thumbnail answered from
# the host's image cache against nginx sending the same bytes as a static
# file, and the host's memory while it sends a 4 GiB file.
# Usage: bench/host-vs-nginx.sh BUILD_DIR
set -euo pipefail
build=${1:?usage: host-vs-nginx.sh BUILD_DIR}
host_bin="$build/bin/orvane-host"
[ -x "$host_bin" ] || { echo "bench: no $host_bin" >&2; exit 1; }
for tool in nginx wrk curl python3 vips; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is missing" >&2; exit 1; }
done

work=$(mktemp -d /tmp/orvane-bench-XXXXXX)
# nginx's workers run as an unprivileged user and must read the folder too.
chmod 755 "$work"
data="$work/data"
host_pid="" nginx_pid="" sampler_pid=""
cleanup() {
  for pid in $sampler_pid $host_pid $nginx_pid; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

make_data() {
  mkdir -p "$data/many"
  # Sparse files: both servers read them from the page cache alike.
  truncate -s 1G "$data/big.bin"
  truncate -s 4G "$data/huge.bin"
  head -c 4096 /dev/urandom > "$data/small.bin"
  (cd "$data/many" && seq -f "file-%05g.txt" 1 10000 | xargs touch)
  mkdir -p "$data/many100k"
  (cd "$data/many100k" && seq -f "file-%06g.txt" 1 100000 | xargs touch)
  # A camera-sized picture for the gallery's thumbnail.
  vips gaussnoise "$work/noise.v" 1600 1200 --mean 128 --sigma 50
  vips copy "$work/noise.v" "$data/photo.jpg[Q=90]"
  rm -f "$work/noise.v"
}

start_nginx() {
  local port=$1
  mkdir -p "$work/nginx"
  cat > "$work/nginx/nginx.conf" <<CONF
worker_processes auto;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log warn;
events { worker_connections 1024; }
http {
  access_log off;
  sendfile on;
  tcp_nopush on;
  keepalive_requests 1000000;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  types { text/html html; application/octet-stream bin; text/plain txt; image/jpeg jpg; }
  server {
    listen 127.0.0.1:$port;
    root $data;
    autoindex on;
  }
}
CONF
  nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" -g 'daemon off;' &
  nginx_pid=$!
}

start_host() {
  local port=$1
  "$host_bin" serve --profile "$work/profile" --port "$port" --bind 127.0.0.1 \
    --share "$data" --log-level warning > "$work/host.out" 2> "$work/host.err" &
  host_pid=$!
  for _ in $(seq 1 300); do
    grep -q '^Share page: ' "$work/host.out" 2>/dev/null && return 0
    sleep 0.1
  done
  echo "bench: the host did not start" >&2
  cat "$work/host.err" >&2
  exit 1
}

wait_for() {
  for _ in $(seq 1 300); do
    curl -s -o /dev/null "$1" && return 0
    sleep 0.1
  done
  echo "bench: $1 does not answer" >&2
  exit 1
}

# MB/s for N parallel downloads of URL.
throughput() {
  local url=$1 clients=$2 size start end
  size=$(curl -s -o /dev/null -w '%{size_download}' "$url")
  start=$(date +%s.%N)
  for _ in $(seq 1 "$clients"); do curl -s -o /dev/null "$url" & done
  wait  # only the downloads: this runs in its own subshell
  end=$(date +%s.%N)
  awk -v s="$size" -v n="$clients" -v a="$start" -v b="$end" \
    'BEGIN { printf "%.0f", s * n / (b - a) / 1048576 }'
}

# Requests per second; wrk counts only answers within its timeout. One
# decimal: a slow page must not round down to 0 and read as "no answer".
# Prints "RPS CPU_US": requests per second, and the CPU time (user and
# system) the server's processes spent per request, which a busy machine
# disturbs less than the rate. rps URL CONNECTIONS PIDS...
rps() {
  local url=$1 conns=$2 before after out; shift 2
  settle "$@"
  before=$(cpu_ticks "$@")
  out=$(wrk -t2 -c"$conns" -d10s --timeout 30s "$url")
  after=$(cpu_ticks "$@")
  awk -v a="$before" -v b="$after" -v hz="$(getconf CLK_TCK)" '
    / requests in / { n = $1 }
    /Requests\/sec:/ { r = $2 }
    END { printf "%.1f %.0f", r, (n > 0 ? (b - a) / hz / n * 1e6 : 0) }' <<<"$out"
}

# Waits (at most 30 s) until the processes have been idle for a second:
# the gallery's first thumbnail starts background work in the host whose
# CPU time would otherwise be counted against the next row's requests.
settle() {
  local last now
  last=$(cpu_ticks "$@")
  for _ in $(seq 1 30); do
    sleep 1
    now=$(cpu_ticks "$@")
    [ "$((now - last))" -le 2 ] && return 0
    last=$now
  done
}

# Clock ticks used so far by the given processes and their children.
cpu_ticks() {
  local pids="$*" p
  for p in "$@"; do pids="$pids $(pgrep -P "$p" | tr '\n' ' ')"; done
  for p in $pids; do cat "/proc/$p/stat" 2>/dev/null; done |
    awk '{ t += $14 + $15 } END { print t + 0 }'
}

report_rps() {
  local h n
  read -r h hc <<<"$2"
  read -r n nc <<<"$3"
  report "$1" "$h" "$n" "req/s" "$4"
  printf '%-34s host %8s us    nginx %8s us    ratio %5s (nginx over host)\n' \
    "  CPU per request" "$hc" "$nc" "$(ratio "$nc" "$hc")"
}

# Every measured address must answer 200, or the figures mean nothing.
check_ok() {
  local code
  for url in "$@"; do
    code=$(curl -s -o /dev/null -w '%{http_code}' -r 0-0 "$url")
    case $code in 200|206) ;; *) echo "bench: $url answers $code" >&2; exit 1 ;; esac
  done
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }

report() {
  printf '%-34s host %8s %-6s nginx %8s %-6s ratio %5s (goal >= %s)\n' \
    "$1" "$2" "$4" "$3" "$4" "$(ratio "$2" "$3")" "$5"
}

# Seconds for one answer, the best of three (one request at a time, the
# whole body read). seconds_per_request URL [CURL_ARGS...]
seconds_per_request() {
  local url=$1 best="" t; shift
  for _ in 1 2 3; do
    t=$(curl -s -o /dev/null -w '%{time_total}' "$@" "$url")
    best=$(awk -v a="$t" -v b="$best" 'BEGIN { print (b == "" || a < b) ? a : b }')
  done
  printf '%.3f' "$best"
}

rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$host_pid/status"; }
hwm_kb() { awk '/^VmHWM:/ { print $2 }' "/proc/$host_pid/status"; }

make_data
host_port=$(free_port)
nginx_port=$(free_port)
start_nginx "$nginx_port"
start_host "$host_port"
page=$(sed -n 's/^Share page: //p' "$work/host.out" | head -n 1)
ngx="http://127.0.0.1:$nginx_port/"
wait_for "$ngx"
wait_for "$page"

# The first request renders the 128-px thumbnail into the image cache;
# nginx then serves exactly the bytes the host answers with.
thumb="${page}photo.jpg?thumbsize=1"
curl -s -f -o "$data/thumb.jpg" "$thumb" ||
  { echo "bench: $thumb does not answer" >&2; exit 1; }
chmod 644 "$data/thumb.jpg"

check_ok "${page}big.bin" "${page}small.bin" "${page}many/" "$thumb" \
  "${ngx}big.bin" "${ngx}small.bin" "${ngx}many/" "${ngx}thumb.jpg"

# Warm both and the page cache.
curl -s -o /dev/null "${page}big.bin"
curl -s -o /dev/null "${ngx}big.bin"

echo "orvane-host against nginx $(nginx -v 2>&1 | sed 's/.*nginx\///'), loopback, $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
# First, while the host is idle: how much its memory grows (RSS) while it
# sends a 4 GiB file.
before=$(rss_kb)
peak=$before
(
  while kill -0 "$host_pid" 2>/dev/null; do rss_kb; sleep 0.1; done
) > "$work/rss.log" &
sampler_pid=$!
curl -s -o /dev/null "${page}huge.bin"
kill "$sampler_pid" 2>/dev/null || true
wait "$sampler_pid" 2>/dev/null || true
sampler_pid=""
peak=$(sort -n "$work/rss.log" | tail -n 1)
growth=$(( (${peak:-$before} - before) / 1024 ))
printf '%-34s %d MB before, %d MB at most, growth %d MB (goal <= 16 MB)\n' \
  "4 GiB file, host memory (RSS)" $((before / 1024)) $((${peak:-$before} / 1024)) "$growth"
h=$(throughput "${page}big.bin" 1); n=$(throughput "${ngx}big.bin" 1)
report "1 GiB file, 1 client" "$h" "$n" "MB/s" 0.8
h=$(throughput "${page}big.bin" 8); n=$(throughput "${ngx}big.bin" 8)
report "1 GiB file, 8 clients" "$h" "$n" "MB/s" 0.8
h=$(rps "${page}small.bin" 32 "$host_pid"); n=$(rps "${ngx}small.bin" 32 "$nginx_pid")
report_rps "4 KiB file, 32 connections" "$h" "$n" 0.5
h=$(rps "${page}many/" 8 "$host_pid"); n=$(rps "${ngx}many/" 8 "$nginx_pid")
report_rps "10,000-file list, 8 connections" "$h" "$n" 0.5
h=$(rps "$thumb" 32 "$host_pid"); n=$(rps "${ngx}thumb.jpg" 32 "$nginx_pid")
report_rps "cached thumbnail, 32 connections" "$h" "$n" 0.5

check_ok "${page}many100k/" "${ngx}many100k/"
h=$(seconds_per_request "${page}many100k/"); n=$(seconds_per_request "${ngx}many100k/")
printf '%-34s host %8s s      nginx %8s s      ratio %5s (nginx over host; goal: host < 0.3 s)\n' \
  "100,000-file list, one request" "$h" "$n" "$(ratio "$n" "$h")"
# nginx has no WebDAV PROPFIND to compare with: the host's time stands alone.
h=$(seconds_per_request "${page}many100k/" -X PROPFIND -H 'Depth: 1')
printf '%-34s host %8s s      (goal < 0.5 s)\n' "100,000-file PROPFIND, depth 1" "$h"

printf '%-34s %d MB\n' "host peak memory (VmHWM)" $(( $(hwm_kb) / 1024 ))
