# Shared pieces of the benchmark scripts (sourced, not run): a work folder
# in /tmp removed on exit, free loopback ports, starting orvane-host on a
# profile of its own, the owner's operations, guests and shares, memory
# sampling of the host, and the ratio lines every script prints.
# Needs: $build set by the caller before sourcing.

host_bin="$build/bin/orvane-host"
[ -x "$host_bin" ] || { echo "bench: no $host_bin (run make release)" >&2; exit 1; }

work=$(mktemp -d /tmp/orvane-bench-XXXXXX)
# Peers run their workers as another user (nginx, Apache) and must read it.
chmod 755 "$work"
host_pid="" sampler_pid="" extra_pids=""
# Scripts add their own clean-up to this hook.
bench_cleanup_hook() { :; }
bench_cleanup() {
  bench_cleanup_hook
  for pid in $sampler_pid $host_pid $extra_pids; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap bench_cleanup EXIT
# Stopped from outside: clean up all the same.
trap 'exit 143' INT TERM

need_tools() {
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "bench: $tool is missing (scripts/install-deps)" >&2; exit 1; }
  done
}

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
mbps() { awk -v s="$1" -v t="$2" 'BEGIN { if (t > 0) printf "%.0f", s / t / 1048576; else print 0 }'; }
# The smallest of the numbers given.
least() { printf '%s\n' "$@" | sort -g | head -n 1; }

profile="$work/profile"
host_port="" host_url="" owner_token=""

# nginx's temporary folders, all below $work/nginx: the lines of an http
# block, for a configuration written by the benchmark.
nginx_temp_paths() {
  local n="$work/nginx" what
  for what in client_body proxy fastcgi uwsgi scgi; do
    printf '  %s_temp_path %s/%s;\n' "$what" "$n" "${what#client_}"
  done
}

# Adds a guest through the host's command line (before start_host); prints
# the guest's id.
add_guest() {
  "$host_bin" guest add "$1" --password "$2" --profile "$profile" > /dev/null
  "$host_bin" guest list --profile "$profile" | awk -F'\t' -v n="$1" '$NF == n { print $1 }'
}

# Starts the host on a free port with the given extra arguments and waits
# until it listens and answers.
start_host() {
  host_port=$(free_port)
  mkdir -p "$profile"
  "$host_bin" serve --profile "$profile" --port "$host_port" --bind 127.0.0.1 \
    --log-level warning "$@" > "$work/host.out" 2> "$work/host.err" &
  host_pid=$!
  host_url="http://127.0.0.1:$host_port"
  for _ in $(seq 1 600); do
    if grep -q '^Listening on ' "$work/host.out" 2>/dev/null &&
      curl -s -o /dev/null "$host_url/"; then
      owner_token=$(tr -d ' \n' < "$profile/owner.token")
      return 0
    fi
    kill -0 "$host_pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "bench: the host did not start" >&2
  cat "$work/host.err" >&2
  exit 1
}

# GET (or POST with -d ...) an owner operation of the plug-in; prints the answer.
owner_op() {
  local op=$1; shift
  curl -s -H "Authorization: Bearer $owner_token" "$@" "$host_url/app/dapplinepro/$op"
}

xml_value() { sed -n "s:.*<$1>\([^<]*\)</$1>.*:\1:p" | head -n 1; }

# add_share NAME FOLDER PUBLIC [more form fields]; prints the share's id.
add_share() {
  local name=$1 folder=$2 open=$3 more=${4:-} id
  mkdir -p "$folder"
  id=$(owner_op addshare --data-urlencode "sharelocation=$folder" \
    -d "sharename=$name&allowpublicaccess=$open&sharesizelimit=0${more:+&$more}" | xml_value shareid)
  [ -n "$id" ] || { echo "bench: addshare $name failed" >&2; exit 1; }
  echo "$id"
}

# grant SHARE_ID USER_ID WRITE(0|1)
grant() {
  local ids="shareid=$1&userid=$2"
  owner_op "addusertoshare?$ids" | grep -q '<success>1</success>' ||
    { echo "bench: addusertoshare failed" >&2; exit 1; }
  owner_op "setuseraccessforshare?$ids&write=$3" | grep -q '<success>1</success>' ||
    { echo "bench: setuseraccessforshare failed" >&2; exit 1; }
}

# CPU seconds (user + system) the host has used so far.
host_cpu() { awk -v hz="$(getconf CLK_TCK)" '{ printf "%.2f", ($14 + $15) / hz }' "/proc/$host_pid/stat"; }
# CPU seconds of the children the calling shell has waited for. `times`
# must run in that shell itself (not in a pipe or $(...), whose fork starts
# from nothing): call this as a plain command; it prints the figure.
children_cpu() {
  times > "$work/times.txt"
  tail -n 1 "$work/times.txt" | awk '{ gsub(/s/, ""); split($1, u, "m"); split($2, v, "m")
                                        printf "%.2f", u[1] * 60 + u[2] + v[1] * 60 + v[2] }'
}
minus() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a - b }'; }

rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$host_pid/status"; }
hwm_kb() { awk '/^VmHWM:/ { print $2 }' "/proc/$host_pid/status"; }

# Samples the host's RSS every 50 ms into $work/rss.log until stop_sampler.
start_sampler() {
  : > "$work/rss.log"
  (while kill -0 "$host_pid" 2>/dev/null; do rss_kb; sleep 0.05; done) >> "$work/rss.log" &
  sampler_pid=$!
}
# Prints the largest RSS seen (kB).
stop_sampler() {
  kill "$sampler_pid" 2>/dev/null || true
  wait "$sampler_pid" 2>/dev/null || true
  sampler_pid=""
  sort -n "$work/rss.log" | tail -n 1
}

# report LABEL HOST PEER UNIT GOAL [PEER_NAME]: higher is better.
report() {
  printf '%-40s host %8s %-5s %-9s %8s %-5s ratio %5s (goal >= %s)\n' \
    "$1" "$2" "$4" "${6:-nginx}" "$3" "$4" "$(ratio "$2" "$3")" "$5"
}
# report_time LABEL HOST_S PEER_S GOAL PEER_NAME: ratio is peer time / host time.
report_time() {
  local goal="(goal >= $4)"
  [ "$4" = - ] && goal=""
  printf '%-40s host %8s s    %-13s %8s s    ratio %5s %s\n' \
    "$1" "$2" "$5" "$3" "$(ratio "$3" "$2")" "$goal"
}

# The machine may be shared: every script says how busy it was.
load_note() { echo "load average $(cut -d' ' -f1-3 /proc/loadavg)"; }
