#!/usr/bin/env bash
# The Debian package as an administrator meets it: `make deb`, its contents,
# `apt-get install`, the installed host started the way orvane.service starts
# it (the unit's command line, as its user, without new privileges, the file
# system read-only apart from the profile), its share page fetched, the
# owner token printed, SIGHUP, then `apt-get remove` and `apt-get purge`.
# Usage: check-deb.sh SOURCE_DIR RELEASE_TREE. Exits 77 (skipped) where
# packages cannot be installed.
set -euo pipefail
source_dir=$1 tree=$2
unit=/usr/lib/systemd/system/orvane.service
conf=/etc/orvane/orvane.conf

skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAILED: $*" >&2; exit 1; }
installed() { dpkg-query -W -f='${Status}' orvane 2>/dev/null | grep -q "ok installed"; }
# Polls for a line in the host's output, for at most 60 s.
await() {
  for _ in $(seq 600); do
    grep -q "$1" "$work/host.out" && return 0
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  cat "$work/host.out" >&2
  fail "the installed host did not print \"$1\""
}

[ "$(id -u)" -eq 0 ] || skip "installing the package needs root; run make test as root"
command -v apt-get >/dev/null || skip "no apt-get on this machine"
installed && skip "a package orvane is installed on this machine already; it is left alone"

work=$(mktemp -d)
chmod 755 "$work"
pid=
cleanup() {
  [ -z "$pid" ] || kill -TERM "$pid" 2>/dev/null || true
  if installed; then apt-get purge -y -qq orvane >/dev/null 2>&1 || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# Built in the release tree; the last line is the package's path.
deb=$(env -u MAKEFLAGS -u MFLAGS -u MAKELEVEL make -s -C "$source_dir" deb BUILD_RELEASE="$tree" |
  tail -n 1)
[ -f "$deb" ] || fail "make deb printed no package but \"$deb\""
echo "package: $deb"
dpkg-deb -c "$deb" | awk '{print $6}' > "$work/contents"
for path in ./usr/bin/orvane-host ./usr/bin/orvane-launcher ./usr/lib/orvane/libcorvel.so \
  ./usr/lib/orvane/plugins/libdapplinepro.so ./usr/lib/orvane/plugins/resource.zip \
  ./usr/lib/orvane/plugins/translations.zip ./usr/share/orvane/www/owner/index.html \
  ./etc/orvane/orvane.conf ".$unit"; do
  grep -qx -- "$path" "$work/contents" || fail "$path is not in the package"
done
dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles | grep -qx "$conf" ||
  fail "$conf is not a conffile"
depends=$(dpkg-deb -f "$deb" Depends)
for library in libpoconet libsqlite3 libvips libssl; do
  [[ $depends == *$library* ]] || fail "Depends lacks $library: $depends"
done

apt-get install -y -qq "$deb" > "$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get install"; }
getent passwd orvane > /dev/null || fail "no user orvane after the installation"
if command -v systemd-analyze > /dev/null; then
  verified=$(systemd-analyze verify "$unit" 2>&1) || fail "systemd-analyze verify: $verified"
  [ -z "$verified" ] || fail "systemd-analyze verify: $verified"
fi

# The installed configuration, edited as an administrator would.
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
mkdir -p "$work/share" "$work/profile"
echo "hello from the package" > "$work/share/hello.txt"
chown orvane:orvane "$work/profile" && chmod 700 "$work/profile"
sed -i -e "s|^profile = .*|profile = $work/profile|" -e "s|^#port = .*|port = $port|" \
  -e "s|^#share =\$|share = $work/share|" "$conf"
orvane-host check-config --config "$conf" > /dev/null

# The unit's command line; ProtectSystem=strict and ProtectHome=read-only
# stood in for by a read-only root in a mount namespace of its own, where
# the machine allows one.
read -r -a command <<< "$(sed -n 's/^ExecStart=//p' "$unit")"
as_service=(setpriv --reuid orvane --regid orvane --init-groups --no-new-privs -- "${command[@]}")
if unshare -m --propagation private true 2> /dev/null; then
  unshare -m --propagation private -- sh -c \
    'mount --bind "$1" "$1" && mount -o remount,bind,ro / && shift && exec "$@"' \
    sh "$work/profile" "${as_service[@]}" > "$work/host.out" 2>&1 &
else
  echo "note: no mount namespace here, the file system is not made read-only"
  "${as_service[@]}" > "$work/host.out" 2>&1 &
fi
pid=$!
await "^Share page: "
page=$(sed -n 's/^Share page: //p' "$work/host.out")
curl -sf "$page" | grep -q "hello.txt" || fail "the share page $page does not list hello.txt"
token=$(orvane-host token --config "$conf")
[ "$token" = "$(cat "$work/profile/owner.token")" ] || fail "orvane-host token printed $token"
kill -HUP "$pid"  # ExecReload
await "SIGHUP"
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
pid=
[ "$status" -eq 0 ] || fail "the host stopped with $status"

apt-get remove -y -qq orvane > "$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get remove"; }
for path in /usr/bin/orvane-host /usr/bin/orvane-launcher /usr/lib/orvane /usr/share/orvane "$unit"; do
  [ ! -e "$path" ] || fail "$path is left after apt-get remove"
done
[ -f "$conf" ] || fail "apt-get remove took the edited $conf"
apt-get purge -y -qq orvane > "$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get purge"; }
[ ! -e "$conf" ] || fail "$conf is left after apt-get purge"
echo "package: installed, served $page, removed and purged"
