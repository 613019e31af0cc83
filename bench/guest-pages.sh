#!/usr/bin/env bash
# Guest pages: a gallery page with 100 thumbnails fetched the way a browser
# does (the page, then the pictures over 6 connections at once), by a guest
# sending Basic credentials with every request, against the same page of a
# public share fetched anonymously. The thumbnails are rendered by a first
# round of each; the timed rounds alternate between the two and the medians
# are compared (goal: the guest within 1.5 times the anonymous visitor).
# The guest's first round, which verifies the password (one PBKDF2 hash of
# 600,000 rounds), is shown on its own. Usage: bench/guest-pages.sh BUILD_DIR
set -euo pipefail
build=${1:?usage: guest-pages.sh BUILD_DIR}
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=lib.sh
. "$here/lib.sh"
need_tools vips curl
count=100
rounds=${BENCH_ROUNDS:-15}
password="a guest's bench password"

# 100 different 1600x1200 pictures, cropped from one noise picture.
mkdir -p "$work/open" "$work/closed"
vips gaussnoise "$work/base.v" 1800 1400 --mean 128 --sigma 50
for i in $(seq 0 $((count - 1))); do
  vips crop "$work/base.v" "$work/open/photo-$(printf %03d "$i").jpg[Q=85]" \
    $((i % 200)) $((i % 200)) 1600 1200
done
rm -f "$work/base.v"
cp "$work/open"/*.jpg "$work/closed/"

guest=$(add_guest ann "$password")
start_host
gallery="viewmode=GALLERY&thumbsize=1&viewsize=0"
add_share open "$work/open" 1 "$gallery" > /dev/null
grant "$(add_share closed "$work/closed" 0 "$gallery")" "$guest" 0

# One curl configuration per share: every thumbnail the page links to.
page_of() { echo "$host_url/app/dapplinepro/share/$1/"; }
for share in open closed; do
  curl -s -u "ann:$password" "$(page_of "$share")" |
    grep -o 'src="[^"]*?thumbsize=[0-9]*"' | sed 's/^src="//; s/"$//' |
    awk -v base="$(page_of "$share")" '{ printf "url = \"%s%s\"\noutput = \"/dev/null\"\n", base, $0 }' \
      > "$work/thumbs-$share.cfg"
  linked=$(grep -c '^url' "$work/thumbs-$share.cfg")
  [ "$linked" -eq "$count" ] || { echo "bench: the $share page links $linked thumbnails" >&2; exit 1; }
done

# round SHARE [curl options]: seconds for the page and its thumbnails.
round() {
  local share=$1 t0 codes; shift
  t0=$(now)
  curl -s -o /dev/null "$@" "$(page_of "$share")"
  codes=$(curl -s --parallel --parallel-max 6 -w '%{http_code}\n' "$@" -K "$work/thumbs-$share.cfg")
  local t
  t=$(elapsed "$t0" "$(now)")
  [ "$(grep -c '^200$' <<<"$codes")" -eq "$count" ] ||
    { echo "bench: not every thumbnail of $share was served" >&2; exit 1; }
  echo "$t"
}
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

echo "Page with $count thumbnails, guest with Basic credentials vs anonymous, $rounds rounds, $(load_note)"
anon_first=$(round open)
guest_first=$(round closed -u "ann:$password")
anon=() guests=()
for _ in $(seq 1 "$rounds"); do
  anon+=("$(round open)")
  guests+=("$(round closed -u "ann:$password")")
done
a=$(median "${anon[@]}")
g=$(median "${guests[@]}")
printf '%-40s guest %6s s   anonymous %6s s   guest/anonymous %5s (goal <= 1.5)\n' \
  "page + $count thumbnails (median)" "$g" "$a" "$(ratio "$g" "$a")"
printf '%-40s guest %6s s   anonymous %6s s   (thumbnails rendered, password verified)\n' \
  "first round of each" "$guest_first" "$anon_first"
