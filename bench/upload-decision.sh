#!/usr/bin/env bash
# The upload decision against the size of the share: a write guest's
# uploads into shares of 1,000, 100,000 and 1,000,000 files (empty files,
# 1,000 to a folder, plus one sparse file that puts each share over its
# 1 MiB limit, so that every upload is decided and refused, nothing
# stored). The first upload into a share walks it once (shown); the figure
# is the mean time of the decisions after it, over one kept-alive
# connection, as a ratio against the 1,000-file share (goal: the million
# within 2x, ratio >= 0.5). BENCH_DECISIONS sets how many are timed.
# Usage: bench/upload-decision.sh BUILD_DIR
set -euo pipefail
build=${1:?usage: upload-decision.sh BUILD_DIR}
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=lib.sh
. "$here/lib.sh"
need_tools curl python3
decisions=${BENCH_DECISIONS:-300}

# make_tree FOLDER COUNT: COUNT empty files and the sparse file over the limit.
make_tree() {
  python3 - "$1" "$2" <<'PY'
import os, sys
root, count = sys.argv[1], int(sys.argv[2])
os.makedirs(root, exist_ok=True)
for d in range((count + 999) // 1000):
    folder = os.path.join(root, "d%04d" % d)
    os.makedirs(folder, exist_ok=True)
    for f in range(min(1000, count - d * 1000)):
        os.close(os.open(os.path.join(folder, "f%03d" % f), os.O_CREAT | os.O_WRONLY, 0o644))
with open(os.path.join(root, "over.bin"), "wb") as f:
    f.truncate(2 * 1024 * 1024)
PY
}

# decide SHARE N: the first decision's seconds, then the mean of N more, in ms.
cat > "$work/decide.py" <<'PY'
import base64, http.client, sys, time
port, share, n = int(sys.argv[1]), sys.argv[2], int(sys.argv[3])
body = (b"--B\r\nContent-Disposition: form-data; name=\"f\"; filename=\"x.txt\"\r\n\r\n"
        b"x\r\n--B--\r\n")
headers = {"Authorization": "Basic " + base64.b64encode(b"writer:writer password").decode(),
           "Content-Type": "multipart/form-data; boundary=B"}
path = "/app/dapplinepro/upload?appname=dapplinepro&sharename=%s&dirname=%s" % (share, share)
conn = http.client.HTTPConnection("127.0.0.1", port, timeout=600)
def once():
    conn.request("POST", path, body, headers)
    answer = conn.getresponse()
    text = answer.read()
    if answer.status != 403 or b"Size Limit Exceeded" not in text:
        sys.exit("unexpected answer %d: %r" % (answer.status, text[:200]))
start = time.perf_counter()
once()
first = time.perf_counter() - start
start = time.perf_counter()
for _ in range(n):
    once()
print("%.3f %.4f" % (first, (time.perf_counter() - start) / n * 1000))
PY

# add_limited_share NAME FOLDER: a 1 MiB share the writer may write to.
add_limited_share() {
  local id
  id=$(owner_op addshare --data-urlencode "sharelocation=$2" \
    -d "sharename=$1&allowpublicaccess=0&sharesizelimit=1024" | xml_value shareid)
  [ -n "$id" ] || { echo "bench: addshare $1 failed" >&2; exit 1; }
  grant "$id" "$writer" 1
}

writer=$(add_guest writer "writer password")
start_host
# The guest's first sign-in costs a password hash: paid here, not below.
make_tree "$work/warm" 0
add_limited_share warm "$work/warm"
python3 "$work/decide.py" "$host_port" warm 1 > /dev/null
declare -A mean
for count in 1000 100000 1000000; do
  folder="$work/share$count"
  made=$(now)
  make_tree "$folder" "$count"
  made=$(elapsed "$made" "$(now)")
  add_limited_share "s$count" "$folder"
  read -r first ms < <(python3 "$work/decide.py" "$host_port" "s$count" "$decisions")
  mean[$count]=$ms
  printf '%-9s files: tree made in %6s s, first decision (walks) %7s s, then %8s ms each\n' \
    "$count" "$made" "$first" "$ms"
done
to_s() { awk -v ms="$1" 'BEGIN { printf "%.6f", ms / 1000 }'; }
report_time "decision, 100,000 files vs 1,000" "$(to_s "${mean[100000]}")" \
  "$(to_s "${mean[1000]}")" 0.5 "1,000 files"
report_time "decision, 1,000,000 files vs 1,000" "$(to_s "${mean[1000000]}")" \
  "$(to_s "${mean[1000]}")" 0.5 "1,000 files"
load_note
