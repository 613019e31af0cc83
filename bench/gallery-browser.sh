#!/usr/bin/env bash
# Gallery in a browser: a public gallery share of 500 pictures (800x600
# JPEGs made here), its thumbnails pre-rendered into the image cache with
# the owner's "startcaching" and waited for, opened in Debian's Chromium
# (headless, fresh context each run); timed from navigation start until
# every thumbnail of the first screen has loaded. The peer is the same page
# served by nginx: the HTML the host produced, its scripts, styles and
# pictures, and the very thumbnail bytes the host answers with, as static
# files under the same paths, so the page is byte for byte the same.
# Prints the medians (ratio: nginx time over host time) and where the time
# went. Usage: bench/gallery-browser.sh BUILD_DIR
set -euo pipefail
build=${1:?usage: gallery-browser.sh BUILD_DIR}
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=lib.sh
. "$here/lib.sh"
need_tools vips nginx node curl python3
chromium=${ORVANE_CHROMIUM:-/usr/bin/chromium}
[ -x "$chromium" ] || { echo "bench: no Chromium at $chromium (scripts/install-deps)" >&2; exit 1; }
[ -d "$here/../tests/browser/node_modules/playwright-core" ] ||
  { echo "bench: playwright-core is missing (scripts/install-deps)" >&2; exit 1; }
count=${BENCH_PICTURES:-500}
rounds=${BENCH_ROUNDS:-15}

# Every picture a different 800x600 crop of one smoothed colour noise, so
# each thumbnail has its own bytes and about a photo's entropy.
photos="$work/photos"
mkdir -p "$photos"
(
  cd "$work"
  for b in r g b; do vips gaussnoise "$b.v" 1300 1100 --mean 128 --sigma 60; done
  vips bandjoin "r.v g.v b.v" rgb.v
  vips gaussblur rgb.v blur.v 1.5
  vips cast blur.v cast.v uchar
  vips copy cast.v base.v --interpretation srgb
  rm -f r.v g.v b.v rgb.v blur.v cast.v
)
seq 0 $((count - 1)) | xargs -P 2 -I{} sh -c '
  i=$1; x=$(( (i * 37) % 500 )); y=$(( (i * 53) % 500 ))
  vips crop "$2" "$3/photo-$(printf %03d "$i").jpg[Q=85]" $x $y 800 600
' sh {} "$work/base.v" "$photos"
rm -f "$work/base.v"

start_host
add_share gallery "$photos" 1 "viewmode=GALLERY&thumbsize=1&viewsize=0" > /dev/null
page_path=/app/dapplinepro/share/gallery/
page="$host_url$page_path"

# Pre-renders the share's pictures and waits until the cache has them all.
cache_all() {
  local answer total completed=0
  answer=$(owner_op "startcaching?sharename=gallery")
  total=$(grep -o '<image>' <<<"$answer" | wc -l)
  [ "$total" -eq "$count" ] || { echo "bench: startcaching listed $total of $count" >&2; exit 1; }
  for _ in $(seq 1 6000); do
    answer=$(owner_op getcachestatus)
    completed=$(xml_value completed <<<"$answer")
    [ -n "$completed" ] || { echo "bench: getcachestatus: $answer" >&2; exit 1; }
    [ "$completed" -ge "$total" ] && return 0
    sleep 0.1
  done
  echo "bench: the image cache holds $completed of $total after 10 minutes" >&2
  exit 1
}
t0=$(now)
cache_all
cache_s=$(elapsed "$t0" "$(now)")

# The static copy: the page as the host wrote it, every thumbnail it links
# to (nginx ignores the "?thumbsize=" query, so the addresses stay the
# same), and whatever else the page loads, each under its own path.
mirror="$work/mirror"
mkdir -p "$mirror$page_path"
curl -s -f -o "$mirror${page_path}index.html" "$page" || { echo "bench: $page does not answer" >&2; exit 1; }
grep -o 'src="[^"]*?thumbsize=[0-9]*"' "$mirror${page_path}index.html" |
  sed 's/^src="//; s/"$//' > "$work/thumbs.txt"
linked=$(wc -l < "$work/thumbs.txt")
[ "$linked" -eq "$count" ] || { echo "bench: the page links $linked thumbnails" >&2; exit 1; }
if grep -q "127\.0\.0\.1:$host_port" "$mirror${page_path}index.html"; then
  echo "bench: the page names the host's own address; its copy would not be static" >&2
  exit 1
fi
t0=$(now)
awk -v base="$page" -v dir="$mirror$page_path" '{
  file = $0; sub(/\?.*/, "", file)
  printf "url = \"%s%s\"\noutput = \"%s%s\"\n", base, $0, dir, file }' "$work/thumbs.txt" > "$work/thumbs.cfg"
codes=$(curl -s --no-progress-meter --parallel --parallel-max 6 -w '%{http_code}\n' -K "$work/thumbs.cfg")
[ "$(grep -c '^200$' <<<"$codes")" -eq "$count" ] ||
  { echo "bench: not every thumbnail was served" >&2; exit 1; }
fetch_s=$(elapsed "$t0" "$(now)")
node "$here/gallery-first-screen.js" assets "$page" > "$work/assets.txt"
while read -r url; do
  file="$mirror$(sed "s|^$host_url||; s|?.*||" <<<"$url")"
  mkdir -p "$(dirname "$file")"
  curl -s -f -o "$file" "$url" || { echo "bench: $url does not answer" >&2; exit 1; }
done < "$work/assets.txt"
chmod -R a+rX "$mirror"
thumb_kb=$(cat "$mirror$page_path"*.jpg | wc -c | awk '{ printf "%.0f", $1 / 1024 }')

nginx_port=$(free_port)
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
$(nginx_temp_paths)
  types {
    text/html html; text/css css; application/javascript js;
    image/jpeg jpg; image/png png; image/gif gif; image/svg+xml svg;
  }
  server {
    listen 127.0.0.1:$nginx_port;
    root $mirror;
    index index.html;
  }
}
CONF
nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" -g 'daemon off;' &
extra_pids="$extra_pids $!"
peer="http://127.0.0.1:$nginx_port$page_path"
for _ in $(seq 1 100); do curl -s -f -o /dev/null "$peer" && break; sleep 0.1; done
# Only the footer's date may differ between two answers of the host.
undated() { curl -s "$1" | sed 's/[0-9:]* +0000\.<\/div>/<\/div>/'; }
cmp -s <(undated "$page") <(undated "$peer") || { echo "bench: nginx's copy of the page differs" >&2; exit 1; }

echo "Gallery of $count pictures in Chromium $("$chromium" --version 2>/dev/null | awk '{ print $2 }'), first screen of thumbnails, $rounds runs each, $(load_note)"
printf '  cache of %d pictures built in %s s; %d thumbnails (%d KB) fetched again with curl in %s s, %d other files\n' \
  "$count" "$cache_s" "$count" "$thumb_kb" "$fetch_s" "$(wc -l < "$work/assets.txt")"
out=$(node "$here/gallery-first-screen.js" measure "$rounds" "$page" "$peer")
read -r _ h n <<<"$(grep '^median ' <<<"$out")"
report_time "gallery of $count, first screen (median)" "$h" "$n" 0.7 "nginx"
grep -v '^median ' <<<"$out"
