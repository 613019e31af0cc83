#!/usr/bin/env bash
# Uploads: one 1 GiB file sent to orvane-host with `curl -T` (WebDAV PUT into
# a share a guest may write) and with `curl -F` (the upload path), against
# nginx's WebDAV module (dav_methods PUT) taking the same file in the same
# run; then litmus against the host's share and against Apache's mod_dav
# serving a copy of the same folder, with both pass counts.
# Each upload is timed three times per server, the best time counts (the
# machine is shared). Usage: bench/uploads.sh BUILD_DIR
set -euo pipefail
build=${1:?usage: uploads.sh BUILD_DIR}
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=lib.sh
. "$here/lib.sh"
need_tools nginx curl python3 litmus apache2
rounds=${BENCH_ROUNDS:-3}

src="$work/src/big.bin"
box="$work/box"
ngx_root="$work/nginx-root"
mkdir -p "$work/src" "$box" "$ngx_root"
# Sparse: reading it costs both sides the same and nothing from the disk.
truncate -s "${BENCH_UPLOAD_SIZE:-1G}" "$src"
size=$(stat -c %s "$src")
echo "seed for the shared folder" > "$box/readme.txt"

start_nginx() {
  local port=$1 conf="$work/nginx/nginx.conf"
  mkdir -p "$work/nginx/body"
  # nginx's workers write as their own user.
  chmod 777 "$ngx_root" "$work/nginx/body"
  cat > "$conf" <<CONF
worker_processes auto;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log warn;
events { worker_connections 1024; }
http {
  access_log off;
  client_max_body_size 0;
$(nginx_temp_paths)
  server {
    listen 127.0.0.1:$port;
    root $ngx_root;
    dav_methods PUT DELETE;
    create_full_put_path on;
    dav_access user:rw group:r all:r;
  }
}
CONF
  nginx -p "$work/nginx" -c "$conf" -g 'daemon off;' &
  nginx_pid=$!
  extra_pids="$extra_pids $!"
  for _ in $(seq 1 100); do
    curl -s -o /dev/null "http://127.0.0.1:$port/" && return 0
    sleep 0.1
  done
  echo "bench: nginx does not answer" >&2
  exit 1
}

# CPU seconds used so far by the processes and their children.
server_cpu() {
  local pids="$*" p
  for p in "$@"; do pids="$pids $(pgrep -P "$p" | tr '\n' ' ')"; done
  for p in $pids; do cat "/proc/$p/stat" 2>/dev/null; done |
    awk -v hz="$(getconf CLK_TCK)" '{ t += $14 + $15 } END { printf "%.2f", t / hz }'
}

# "SECONDS CPU" of one upload (the server's CPU seconds), checking the
# status and the stored size. timed_upload SIZE STORED_PATH SERVER_PID CURL_ARGS...
timed_upload() {
  local want=$1 stored=$2 pid=$3; shift 3
  local out code total c0
  rm -f "$stored"
  c0=$(server_cpu "$pid")
  out=$(curl -s -o /dev/null -w '%{http_code} %{time_total}' "$@")
  code=${out%% *} total=${out#* }
  case $code in 200|201|204) ;; *) echo "bench: upload answered $code ($*)" >&2; exit 1 ;; esac
  [ "$(stat -c %s "$stored" 2>/dev/null || echo 0)" = "$want" ] ||
    { echo "bench: $stored is not $want bytes after the upload" >&2; exit 1; }
  rm -f "$stored"
  echo "$total $(minus "$(server_cpu "$pid")" "$c0")"
}

writer=$(add_guest writer wpass)
start_host
share_id=$(add_share box "$box" 0)
grant "$share_id" "$writer" 1
ngx_port=$(free_port)
start_nginx "$ngx_port"

dav_url="$host_url/app/dapplinepro/share/box/"
post_url="$host_url/app/dapplinepro/upload?sharename=box&dirname=box"

echo "Uploads of a $((size / 1048576)) MiB file over loopback, best of $rounds, $(nproc) cores, $(load_note)"
put=() form=() ngx=() cpu_put=() cpu_form=() cpu_ngx=()
for _ in $(seq 1 "$rounds"); do
  out=$(timed_upload "$size" "$ngx_root/big.bin" "$nginx_pid" -T "$src" "http://127.0.0.1:$ngx_port/big.bin")
  ngx+=("${out% *}"); cpu_ngx+=("${out#* }")
  out=$(timed_upload "$size" "$box/big.bin" "$host_pid" -u writer:wpass -T "$src" "${dav_url}big.bin")
  put+=("${out% *}"); cpu_put+=("${out#* }")
  out=$(timed_upload "$size" "$box/big.bin" "$host_pid" -u writer:wpass -F "file=@$src" "$post_url")
  form+=("${out% *}"); cpu_form+=("${out#* }")
done
n=$(mbps "$size" "$(least "${ngx[@]}")")
echo "  times (s): nginx PUT ${ngx[*]}; host PUT ${put[*]}; host -F ${form[*]}"
echo "  server CPU (s): nginx PUT ${cpu_ngx[*]}; host PUT ${cpu_put[*]}; host -F ${cpu_form[*]}"
report "curl -T (WebDAV PUT)" "$(mbps "$size" "$(least "${put[@]}")")" "$n" "MB/s" 1.0 "nginx PUT"
# CPU: the least of the rounds on each side, nginx's over the host's.
printf '%-40s host %8s s     %-9s %8s s     ratio %5s (goal >= 1.0)\n' "  server CPU, WebDAV PUT" \
  "$(least "${cpu_put[@]}")" "nginx PUT" "$(least "${cpu_ngx[@]}")" \
  "$(ratio "$(least "${cpu_ngx[@]}")" "$(least "${cpu_put[@]}")")"
report "curl -F (upload path)" "$(mbps "$size" "$(least "${form[@]}")")" "$n" "MB/s" 0.7 "nginx PUT"

# litmus against Apache's mod_dav: Debian's apache2 started on its own
# config in the work folder (no system service), on a copy of the folder.
apache_root="$work/apache-root"
cp -a "$box" "$apache_root"
start_apache() {
  local port=$1 dir="$work/apache" mods=/usr/lib/apache2/modules user_lines=""
  mkdir -p "$dir/logs" "$dir/lock"
  if [ "$(id -u)" -eq 0 ]; then
    # Apache will not serve as root: its children take www-data.
    user_lines="User www-data
Group www-data"
    chown -R www-data:www-data "$apache_root" "$dir/lock"
  fi
  cat > "$dir/httpd.conf" <<CONF
ServerRoot $dir
ServerName 127.0.0.1
Listen 127.0.0.1:$port
PidFile $dir/httpd.pid
ErrorLog $dir/logs/error.log
LogLevel warn
Mutex file:$dir/lock
$user_lines
LoadModule mpm_event_module $mods/mod_mpm_event.so
LoadModule authz_core_module $mods/mod_authz_core.so
LoadModule dav_module $mods/mod_dav.so
LoadModule dav_fs_module $mods/mod_dav_fs.so
DavLockDB $dir/lock/DavLock
DocumentRoot $apache_root
<Directory $apache_root>
  Dav On
  Require all granted
</Directory>
CONF
  APACHE_RUN_DIR="$dir" apache2 -f "$dir/httpd.conf" -DFOREGROUND &
  extra_pids="$extra_pids $!"
  for _ in $(seq 1 100); do
    curl -s -o /dev/null "http://127.0.0.1:$port/" && return 0
    sleep 0.1
  done
  echo "bench: Apache does not answer" >&2
  cat "$dir/logs/error.log" >&2
  exit 1
}

# Sums litmus's "N passed" over its groups; the full output is kept.
litmus_passes() {
  local log=$1; shift
  (cd "$work" && litmus -k "$@" > "$log" 2>&1) || true
  awk '/^<- summary for/ { for (i = 1; i <= NF; i++) if ($i == "passed,") { p += $(i - 1) }
                           for (i = 1; i <= NF; i++) if ($i == "run:") { r += $(i + 1) } }
       END { printf "%d of %d", p, r }' "$log"
}

apache_port=$(free_port)
start_apache "$apache_port"
ours=$(litmus_passes "$work/litmus-host.log" "$dav_url" writer wpass)
theirs=$(litmus_passes "$work/litmus-apache.log" "http://127.0.0.1:$apache_port/")
printf '%-40s host %s passed, Apache mod_dav %s passed (goal: host >= Apache)\n' \
  "litmus $(litmus --version 2>&1 | head -n 1 | awk '{ print $2 }')" "$ours" "$theirs"
if [ "${ours%% *}" -lt "${theirs%% *}" ]; then
  echo "  host failures:"
  grep -E 'FAIL|WARNING' "$work/litmus-host.log" | sed 's/^/    /' || true
fi
