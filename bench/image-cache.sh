#!/usr/bin/env bash
# Image cache: 200 JPEG photos of 12 megapixels (made here), pre-rendered
# by orvane-host into thumbnails (128 box) and slides (800x600 box) with
# the owner's "startcaching" on a gallery share, timed until
# "getcachestatus" reports them all completed; against `vipsthumbnail` and
# ImageMagick's `convert -thumbnail` making the same two sizes from the
# same files, each run as 2 parallel jobs (one per core, as the host may
# use both). Prints both ratios (peer time over host time), the cores the
# host kept busy and its peak memory. Usage: bench/image-cache.sh BUILD_DIR
set -euo pipefail
build=${1:?usage: image-cache.sh BUILD_DIR}
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=lib.sh
. "$here/lib.sh"
need_tools vips vipsthumbnail curl python3
# ImageMagick's own program, whatever else is called convert on the PATH.
magick=$(command -v convert-im6.q16 || echo /usr/bin/convert)
[ -x "$magick" ] || { echo "bench: ImageMagick's convert is missing (scripts/install-deps)" >&2; exit 1; }
count=${BENCH_PICTURES:-200}
jobs=2

photos="$work/photos"
mkdir -p "$photos" "$work/base"
# Two 4400x3300 colour pictures (smoothed noise, about a photo's entropy,
# one the mirror of the other); every photo is a different 4000x3000 crop.
(
  cd "$work/base"
  for b in r g b; do vips gaussnoise "$b.v" 4400 3300 --mean 128 --sigma 60; done
  vips bandjoin "r.v g.v b.v" rgb.v
  vips gaussblur rgb.v blur.v 1.2
  vips cast blur.v cast.v uchar
  vips copy cast.v base0.v --interpretation srgb
  vips flip base0.v base1.v horizontal
  rm -f r.v g.v b.v rgb.v blur.v cast.v
)
seq 0 $((count - 1)) | xargs -P "$jobs" -I{} sh -c '
  i=$1; x=$(( (i * 37) % 400 )); y=$(( (i * 23) % 300 ))
  vips crop "$2/base$((i % 2)).v" "$3/photo-$(printf %03d "$i").jpg[Q=90]" $x $y 4000 3000
' sh {} "$work/base" "$photos"
rm -rf "$work/base"
mb=$(du -sm "$photos" | awk '{ print $1 }')
# Everybody reads the photos from the page cache.
cat "$photos"/*.jpg > /dev/null

cpu_s() { awk -v hz="$(getconf CLK_TCK)" '{ printf "%.2f", ($14 + $15) / hz }' "/proc/$host_pid/stat"; }

start_host
add_share gallery "$photos" 1 "viewmode=GALLERY&thumbsize=1&viewsize=0" > /dev/null

host_cache() {
  local t0 c0 answer total completed=0
  start_sampler
  c0=$(cpu_s)
  t0=$(now)
  answer=$(owner_op "startcaching?sharename=gallery")
  total=$(grep -o '<image>' <<<"$answer" | wc -l)
  [ "$total" -eq "$count" ] || { echo "bench: startcaching listed $total of $count" >&2; exit 1; }
  while [ "$completed" -lt "$total" ]; do
    sleep 0.1
    answer=$(owner_op getcachestatus)
    completed=$(xml_value completed <<<"$answer")
    [ -n "$completed" ] || { echo "bench: getcachestatus: $answer" >&2; exit 1; }
  done
  local t
  t=$(elapsed "$t0" "$(now)")
  echo "$(stop_sampler) $(awk -v a="$c0" -v b="$(cpu_s)" 'BEGIN { printf "%.2f", b - a }')" \
    > "$work/host-extra"
  echo "$t"
}

# peer_run NAME COMMAND...: COMMAND gets a batch of photos and the output
# folder as $0; 2 jobs at once.
peer_run() {
  local out="$work/out-$1" t0 t made; shift
  rm -rf "$out"; mkdir -p "$out"
  t0=$(now)
  printf '%s\n' "$photos"/*.jpg | xargs -P "$jobs" -n "$2" sh -c "$1" "$out"
  t=$(elapsed "$t0" "$(now)")
  made=$(find "$out" -name '*.jpg' | wc -l)
  [ "$made" -eq $((2 * count)) ] || { echo "bench: $made of $((2 * count)) pictures made" >&2; exit 1; }
  rm -rf "$out"
  # The CPU time of the jobs (this subshell's children only).
  echo -n "$t "
  children_cpu
}
# Same quality as the host's (85, metadata stripped).
vips_cmd='vipsthumbnail -s 128 -o "$0/%s_t.jpg[Q=85,strip]" "$@" &&
          vipsthumbnail -s 800x600 -o "$0/%s_s.jpg[Q=85,strip]" "$@"'
# convert decodes each photo once for both sizes (-write keeps the slide,
# the thumbnail is made from it): its quickest way with -thumbnail.
magick_cmd='n=$(basename "$1" .jpg);
            "'"$magick"'" "$1" -thumbnail 800x600 -quality 85 -write "$0/${n}_s.jpg" \
              -thumbnail 128x128 "$0/${n}_t.jpg"'

# The host's cache is built once: a second run would find it complete.
echo "Image cache of $count photos of 12 MP ($mb MB), thumbnail 128 and slide 800x600, $(nproc) cores, $(load_note)"
out=$(peer_run vips "$vips_cmd" 10)
read -r v vcpu <<<"$out"
h=$(host_cache)
read -r peak hcpu < "$work/host-extra"
out=$(peer_run magick "$magick_cmd" 1)
read -r m mcpu <<<"$out"
echo "  peers ran as $jobs parallel jobs (xargs -P $jobs), the host as it is"
report_time "startcaching to all completed" "$h" "$v" 0.8 "vipsthumbnail"
report_time "startcaching to all completed" "$h" "$m" "-" "convert"
printf '%-40s host %.2f s (%s cores on average), vipsthumbnail %.2f s, convert %.2f s\n' \
  "CPU time (user + system)" "$hcpu" "$(awk -v c="$hcpu" -v t="$h" 'BEGIN { printf "%.2f", c / t }')" \
  "$vcpu" "$mcpu"
printf '%-40s %d MB at most (RSS), %d MB VmHWM\n' "host memory while caching" \
  $((peak / 1024)) $(( $(hwm_kb) / 1024 ))
