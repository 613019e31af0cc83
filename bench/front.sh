#!/usr/bin/env bash
# The front facing the internet, against nginx serving the same folder in
# the same run:
#  (a) availability under slowhttptest's slowloris, 1000 connections from
#      127.0.0.1: the share of ordinary requests (from 127.0.1.250) answered
#      within 2 s; the host with its cap per address, and with the cap
#      raised so that it holds all 1000;
#  (b) 10,000 idle keep-alive connections (from 200 addresses): memory,
#      and ordinary requests still answered;
#  (c) a 1 GiB download over TLS, 1 and 8 clients, both with the same
#      certificate.
# The plain-HTTP figures are host-vs-nginx.sh's. Usage: bench/front.sh BUILD_DIR
set -euo pipefail
build=${1:?usage: front.sh BUILD_DIR}
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=lib.sh
. "$here/lib.sh"
need_tools nginx curl python3 slowhttptest openssl

data="$work/data"
mkdir -p "$data"
truncate -s 1G "$data/big.bin"
echo "an ordinary page" > "$data/small.txt"
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 30 \
  -keyout "$work/key.pem" -out "$work/cert.pem" -subj /CN=localhost \
  -addext subjectAltName=DNS:localhost,IP:127.0.0.1 > /dev/null 2>&1
chmod 644 "$work/key.pem"  # nginx's workers read it as their own user
visitor=127.0.1.250

nginx_pid=""
start_nginx() {
  local plain=$1 tls=$2 conf="$work/nginx/nginx.conf"
  mkdir -p "$work/nginx"
  cat > "$conf" <<CONF
worker_processes auto;
worker_rlimit_nofile 20000;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log crit;
events { worker_connections 16384; }
http {
  access_log off;
  sendfile on;
  tcp_nopush on;
$(nginx_temp_paths)
  types { application/octet-stream bin; text/plain txt; }
  ssl_protocols TLSv1.2 TLSv1.3;
  server {
    listen 127.0.0.1:$plain;
    listen 127.0.0.1:$tls ssl;
    ssl_certificate $work/cert.pem;
    ssl_certificate_key $work/key.pem;
    root $data;
  }
}
CONF
  nginx -p "$work/nginx" -c "$conf" -g 'daemon off;' &
  nginx_pid=$!
  extra_pids="$extra_pids $!"
  for _ in $(seq 1 100); do
    curl -s -o /dev/null "http://127.0.0.1:$plain/small.txt" && return 0
    sleep 0.1
  done
  echo "bench: nginx does not answer" >&2
  exit 1
}

share_page() { sed -n 's/^Share page: //p' "$work/host.out" | tail -n 1; }

stop_host() {
  [ -n "$host_pid" ] || return 0
  kill "$host_pid" 2>/dev/null || true
  for _ in $(seq 1 200); do kill -0 "$host_pid" 2>/dev/null || break; sleep 0.1; done
  kill -9 "$host_pid" 2>/dev/null || true
  wait "$host_pid" 2>/dev/null || true
  host_pid=""
}

restart_host() {
  stop_host
  start_host --share "$data" "$@"
  for _ in $(seq 1 100); do [ -n "$(share_page)" ] && return 0; sleep 0.1; done
  echo "bench: the host printed no share page" >&2
  exit 1
}

# RSS in kB of a process and its children.
tree_kb() {
  local pids="$1 $(pgrep -P "$1" | tr '\n' ' ')" p total=0
  for p in $pids; do
    total=$((total + $(awk '/^VmRSS:/ { print $2 }' "/proc/$p/status" 2>/dev/null || echo 0)))
  done
  echo "$total"
}

# Ordinary requests, one every 0.2 s for SECONDS: "answered-in-2s total".
ordinary() {
  local url=$1 seconds=$2 ok=0 total=0 end code
  end=$(($(date +%s) + seconds))
  while [ "$(date +%s)" -lt "$end" ]; do
    code=$(curl -s -o /dev/null --interface "$visitor" --max-time 2 -w '%{http_code}' "$url" || true)
    total=$((total + 1))
    [ "$code" = 200 ] && ok=$((ok + 1))
    sleep 0.2
  done
  echo "$ok $total"
}

# Share of ordinary requests answered within 2 s while slowloris runs.
slowloris() {
  local target=$1 url=$2 slow_pid result
  slowhttptest -c 1000 -H -i 10 -r 250 -t GET -u "$target" -x 24 -p 3 -l 35 \
    > "$work/slow.log" 2>&1 &
  slow_pid=$!
  extra_pids="$extra_pids $slow_pid"
  sleep 6  # 1000 connections at 250 a second
  result=$(ordinary "$url" 20)
  kill "$slow_pid" 2>/dev/null || true
  wait "$slow_pid" 2>/dev/null || true
  read -r ok total <<<"$result"
  awk -v a="$ok" -v b="$total" 'BEGIN { printf "%.0f", b ? 100 * a / b : 0 }'
}

# The most connections slowhttptest saw open at once in its last run.
attack_held() {
  sed 's/\x1b\[[0-9;]*m//g' "$work/slow.log" | awk '/^connected:/ { if ($2 > m) m = $2 } END { print m + 0 }'
}

# Opens 10,000 idle keep-alive connections to PORT; prints how many were
# ready, leaves the holder running as $idle_pid.
idle_pid=""
hold_idle() {
  python3 "$here/idle-clients.py" "$1" 10000 --per-address 50 --hold 120 > "$work/idle.out" &
  idle_pid=$!
  extra_pids="$extra_pids $idle_pid"
  for _ in $(seq 1 900); do
    grep -q '^ready' "$work/idle.out" 2>/dev/null && break
    sleep 0.1
  done
  awk '/^ready/ { print $2 }' "$work/idle.out"
}
release_idle() { kill "$idle_pid" 2>/dev/null || true; wait "$idle_pid" 2>/dev/null || true; }

tls_mbps() {
  local url=$1 clients=$2 start end
  start=$(now)
  for _ in $(seq 1 "$clients"); do curl -sk -o /dev/null "$url" & done
  wait  # only the downloads: this runs in its own subshell
  end=$(now)
  mbps "$((1073741824 * clients))" "$(elapsed "$start" "$end")"
}

ngx_plain=$(free_port)
ngx_tls=$(free_port)
start_nginx "$ngx_plain" "$ngx_tls"
restart_host
page=$(share_page)
ngx="http://127.0.0.1:$ngx_plain/"
echo "front: orvane-host against nginx $(nginx -v 2>&1 | sed 's/.*nginx\///'), $(nproc) cores, $(load_note)"

h=$(slowloris "${page}small.txt" "${page}small.txt"); hheld=$(attack_held)
n=$(slowloris "${ngx}small.txt" "${ngx}small.txt"); nheld=$(attack_held)
report "(a) slowloris 1000, answered in 2 s" "$h" "$n" "%" "1.0"
echo "    the attack held at most $hheld connections at the host, $nheld at nginx"
printf 'connections.per.address=2000\n' > "$profile/host.properties"
restart_host
page=$(share_page)
h=$(slowloris "${page}small.txt" "${page}small.txt"); hheld=$(attack_held)
report "(a) same, host's cap per address 2000" "$h" "$n" "%" "1.0"
echo "    the attack held at most $hheld connections at the host"

before=$(rss_kb)
ready=$(hold_idle "$host_port")
after=$(rss_kb)
read -r ok total <<<"$(ordinary "${page}small.txt" 5)"
release_idle
nbefore=$(tree_kb "$nginx_pid")
nready=$(hold_idle "$ngx_plain")
nafter=$(tree_kb "$nginx_pid")
read -r nok ntotal <<<"$(ordinary "${ngx}small.txt" 5)"
release_idle
printf '%-40s host %d idle, %d MB (%d MB before), %d/%d answered; nginx %d idle, %d MB, %d/%d answered (goal < 200 MB)\n' \
  "(b) 10,000 idle connections" "$ready" $((after / 1024)) $((before / 1024)) "$ok" "$total" \
  "$nready" $((nafter / 1024)) "$nok" "$ntotal"

rm -f "$profile/host.properties"
restart_host --tls-cert "$work/cert.pem" --tls-key "$work/key.pem"
page=$(share_page)
case $page in https://*) ;; *) echo "bench: the TLS host printed $page" >&2; exit 1 ;; esac
ngxs="https://127.0.0.1:$ngx_tls/"
curl -sk -o /dev/null "${page}big.bin"
curl -sk -o /dev/null "${ngxs}big.bin"
h=$(tls_mbps "${page}big.bin" 1); n=$(tls_mbps "${ngxs}big.bin" 1)
report "(c) 1 GiB over TLS, 1 client" "$h" "$n" "MB/s" 0.8
h=$(tls_mbps "${page}big.bin" 8); n=$(tls_mbps "${ngxs}big.bin" 8)
report "(c) 1 GiB over TLS, 8 clients" "$h" "$n" "MB/s" 0.8
