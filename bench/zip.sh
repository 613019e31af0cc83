#!/usr/bin/env bash
# Folder zip: a folder of 1,000 files totalling 1 GiB, timed from the share
# page's "startzip" through the "zipstatus" polls to the last byte of
# "downloadaszip" through orvane-host, against `zip -0 -r -q` of the same
# folder followed by reading the result, in the same run; prints the ratio
# (zip's time over the host's) and the host's memory growth while it works.
# Best of BENCH_ROUNDS (2) for each side. Usage: bench/zip.sh BUILD_DIR
set -euo pipefail
build=${1:?usage: zip.sh BUILD_DIR}
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=lib.sh
. "$here/lib.sh"
need_tools zip curl python3
rounds=${BENCH_ROUNDS:-2}

data="$work/folder"
# 10 folders of 100 files, 1 GiB in all, each file its own random bytes (a zip
# of stored entries still reads and checksums every byte).
python3 - "$data" "${BENCH_ZIP_BYTES:-1073741824}" <<'PY'
import os, sys
root = sys.argv[1]
size, rest = divmod(int(sys.argv[2]), 1000)
block = os.urandom(size)
for d in range(10):
    os.makedirs(os.path.join(root, "album %02d" % d), exist_ok=True)
    for f in range(100):
        with open(os.path.join(root, "album %02d" % d, "file-%03d.bin" % f), "wb") as out:
            # Rotate the block: no two files alike, no cost to make.
            at = (d * 100 + f) * 997 % len(block)
            out.write(block[at:] + block[:at])
            if d == f == 0:
                out.write(block[:rest])
PY
total=$(du -sb "$data" | awk '{ print $1 }')
# Both sides read the folder from the page cache.
cat "$data"/*/* > /dev/null

start_host --share "$data"
page=$(sed -n 's/^Share page: //p' "$work/host.out" | head -n 1)
[ -n "$page" ] || { echo "bench: the host printed no share page" >&2; exit 1; }

# Seconds from startzip to the last byte of the zip; leaves the RSS peak
# of the host in $work/peak.
host_zip() {
  local t0 id status size before c0
  before=$(rss_kb)
  start_sampler
  c0=$(host_cpu)
  t0=$(now)
  id=$(curl -s "${page}?startzip=1" | xml_value id)
  [ -n "$id" ] || { echo "bench: startzip gave no id" >&2; exit 1; }
  while :; do
    status=$(curl -s "${page}?zipstatus=1&id=$id")
    case $status in *"<finished>1</finished>"*) break ;; esac
    case $status in *"<finished>0</finished>"*) ;; *) echo "bench: zipstatus: $status" >&2; exit 1 ;; esac
    sleep 0.05
  done
  size=$(curl -s -o /dev/null -w '%{http_code} %{size_download}' \
    "${page}?downloadaszip=1&action=download&id=$id")
  echo "$(elapsed "$t0" "$(now)") $(minus "$(host_cpu)" "$c0")"
  echo " $(( $(stop_sampler) - before ))" > "$work/growth"
  [ "${size%% *}" = 200 ] && [ "${size#* }" -gt "$total" ] ||
    { echo "bench: downloadaszip answered $size" >&2; exit 1; }
}

peer_zip() {
  local t0 t
  rm -f "$work/peer.zip"
  t0=$(now)
  (cd "$data" && zip -0 -r -q "$work/peer.zip" .)
  cat "$work/peer.zip" > /dev/null
  t=$(elapsed "$t0" "$(now)")
  rm -f "$work/peer.zip"
  echo -n "$t "
  children_cpu
}

echo "Folder zip of 1,000 files, $((total / 1048576)) MiB in all, over loopback, best of $rounds, $(nproc) cores, $(load_note)"
hosts=() peers=() growths=() hcpu=() pcpu=()
for _ in $(seq 1 "$rounds"); do
  out=$(peer_zip); peers+=("${out% *}"); pcpu+=("${out#* }")
  out=$(host_zip); hosts+=("${out% *}"); hcpu+=("${out#* }")
  growths+=("$(cat "$work/growth")")
done
echo "  times (s): host ${hosts[*]}; zip -0 + read ${peers[*]}"
echo "  CPU (s, user + system): host ${hcpu[*]}; zip -0 + read ${pcpu[*]}"
report_time "startzip to last byte vs zip -0 + read" "$(least "${hosts[@]}")" \
  "$(least "${peers[@]}")" 1.0 "zip -0"
worst=$(printf '%s\n' "${growths[@]}" | sort -n | tail -n 1)
printf '%-40s growth %d MB at most (goal < 32 MB), peak %d MB (VmHWM)\n' \
  "host memory while zipping (RSS)" $((worst / 1024)) $(( $(hwm_kb) / 1024 ))
