#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The Debian package on a clean Debian 12: a minimal system made with debootstrap, the package
# installed there by apt (without recommended packages, so its Depends are all it gets), then,
# inside that system: fotaviq --version, the album service, a demo album downloaded from the
# command line, and the window shown on a virtual display with nothing on stderr. A library or
# plugin the package forgot to depend on fails one of these.
#
# Usage: package_test.sh BUILD_DIR   (as root, everything built; exit status 77 = skipped)
# The mirror is the one this system's apt sources use for bookworm. The minimal system is made
# once and kept in BUILD_DIR/package-test/bookworm (with the downloaded packages in
# .../archives); every run installs into a fresh copy of it. Delete the folder to start over.
set -euo pipefail
build=$(realpath "$1")
skip() { echo "skipped: $*"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "needs root (debootstrap, chroot, mounts)"
for tool in debootstrap unshare nsenter chroot Xvfb xdotool cpack curl; do
  command -v "$tool" >/dev/null || skip "needs $tool"
done

# Mounts made below vanish with this mount namespace, however the script ends.
if [ -z "${FOTAVIQ_PACKAGE_TEST_NS:-}" ]; then
  FOTAVIQ_PACKAGE_TEST_NS=1 exec unshare --mount --propagation private -- "$0" "$@"
fi

fail() { echo "FAIL: $*" >&2; exit 1; }
step() { echo "== $* ($SECONDS s)"; }

# debian_sources SUITE: the archive addresses of this system's apt sources that serve SUITE
# (one-line lists and deb822 .sources files), in order.
debian_sources() {
  local f
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    sed -E 's/#.*//; s/\[[^]]*\]//' "$f" | awk -v suite="$1" '$1 == "deb" && $3 == suite {print $2}'
  done
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    awk -v suite="$1" 'BEGIN {RS = ""; FS = "\n"}
      { uris = ""; suites = ""; types = ""; enabled = "yes"
        for (i = 1; i <= NF; i++) {
          line = $i
          if (line ~ /^#/) continue
          if (sub(/^URIs:[ \t]*/, "", line)) uris = line
          else if (sub(/^Suites:[ \t]*/, "", line)) suites = " " line " "
          else if (sub(/^Types:[ \t]*/, "", line)) types = " " line " "
          else if (sub(/^Enabled:[ \t]*/, "", line)) enabled = line
        }
        if (types ~ / deb / && index(suites, " " suite " ") && enabled != "no") { split(uris, u, " "); print u[1] } }' "$f"
  done
}
mirror=$(debian_sources bookworm | head -n 1)
[ -n "$mirror" ] || skip "no Debian 12 (bookworm) archive in this system's apt sources"
security=$(debian_sources bookworm-security | head -n 1)
curl -sf --max-time 20 -o /dev/null "$mirror/dists/bookworm/Release" || skip "cannot reach $mirror"

cache=$build/package-test
base=$cache/bookworm
root=$cache/root
archives=$cache/archives
mkdir -p "$archives/partial"

holder=
xvfb=
pids=()
running() { [ -e "/proc/$1" ] && ! grep -q '^[0-9]* (.*) Z' "/proc/$1/stat" 2>/dev/null; }
stop() {  # stop PID: SIGTERM, SIGKILL after 5 s, then reaped
  kill "$1" 2>/dev/null || true
  for _ in $(seq 50); do running "$1" || break; sleep 0.1; done
  kill -9 "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}
# unmount_root: true once nothing is mounted in the test system (the bind mounts are on the
# same file system as the build folder: removing the system before would reach through them).
unmount_root() {
  local m
  for m in tmp/.X11-unix var/cache/apt/archives sys dev proc; do
    ! mountpoint -q "$root/$m" || umount -R "$root/$m" || return 1
  done
}
# in_root_pids: the processes running in the test system (the browser's helpers among them).
in_root_pids() {
  local p
  for p in /proc/[0-9]*; do
    [ "$(readlink "$p/root" 2>/dev/null)" != "$root" ] || echo "${p#/proc/}"
  done
}
cleanup() {
  local status=$? p
  for p in "${pids[@]}"; do stop "$p"; done
  for p in $(in_root_pids); do kill -9 "$p" 2>/dev/null || true; done
  [ -z "$xvfb" ] || stop "$xvfb"
  [ -z "$holder" ] || stop "$holder"
  for _ in $(seq 50); do [ -z "$(in_root_pids)" ] && break; sleep 0.1; done
  # A failed run leaves the system for a look; the next run starts from a fresh copy anyway.
  if unmount_root && [ "$status" -eq 0 ]; then rm -rf --one-file-system "$root"; fi
}
trap cleanup EXIT
# in_root COMMAND...: COMMAND in the test system, with a plain environment.
in_root() {
  chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
    DEBIAN_FRONTEND=noninteractive "$@"
}

if [ ! -e "$base/.complete" ]; then
  step "debootstrap: a minimal Debian 12 from $mirror into $base"
  rm -rf --one-file-system "$base"
  debootstrap --variant=minbase --cache-dir="$archives" bookworm "$base" "$mirror" >"$cache/debootstrap.log" 2>&1 ||
    fail "debootstrap failed, see $cache/debootstrap.log: $(tail -n 5 "$cache/debootstrap.log")"
  touch "$base/.complete"
fi

step "a fresh copy of the minimal system"
rm -rf --one-file-system "$root"
cp -a "$base" "$root"
{
  echo "deb $mirror bookworm main"
  echo "deb $mirror bookworm-updates main"
  [ -z "$security" ] || echo "deb $security bookworm-security main"
} >"$root/etc/apt/sources.list"
cp -L /etc/resolv.conf "$root/etc/resolv.conf"
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"  # no service starts on install
chmod 755 "$root/usr/sbin/policy-rc.d"
mount -t proc proc "$root/proc"
mount --rbind /dev "$root/dev"
mount --rbind /sys "$root/sys"
mount --bind "$archives" "$root/var/cache/apt/archives"

step "the package, built from $build"
cpack -G DEB -B "$root/tmp" --config "$build/CPackConfig.cmake" >/dev/null
rm -rf "$root/tmp/_CPack_Packages"
deb=$(cd "$root/tmp" && ls fotaviq_*.deb)
chmod 644 "$root/tmp/$deb"

step "apt-get install ./$deb"
in_root apt-get update -qq >"$cache/apt.log" 2>&1 || fail "apt-get update: $(tail -n 5 "$cache/apt.log")"
in_root sh -c "cd /tmp && apt-get install -y -q --no-install-recommends ./$deb" >>"$cache/apt.log" 2>&1 ||
  fail "apt-get install: $(tail -n 20 "$cache/apt.log")"
grep -E '^(Need to get|After this operation)' "$cache/apt.log" || true

step "fotaviq --version"
version=$(in_root fotaviq --version 2>&1) || fail "fotaviq --version: $version"
[ "$version" = "fotaviq $(dpkg-deb -f "$root/tmp/$deb" Version)" ] ||
  fail "fotaviq --version printed: $version"

# From here on the test system runs in a network namespace of its own (loopback only): the
# album service takes port 80 of 127.0.0.1 there. What runs in the background is started
# without a shell function in between, so that $! is the program itself.
unshare --net sleep infinity &
holder=$!
in_net() { nsenter --target "$holder" --net -- "$@"; }
for _ in $(seq 50); do [ "$(readlink "/proc/$holder/ns/net")" != "$(readlink /proc/self/ns/net)" ] && break; sleep 0.1; done
in_net ip link set lo up

step "fotaviq-album-server on 127.0.0.1:80"
nsenter --target "$holder" --net -- chroot "$root" env -i PATH=/usr/bin:/bin fotaviq-album-server >"$cache/service.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do grep -q '^listening' "$cache/service.log" && break; sleep 0.1; done
grep -q '^listening' "$cache/service.log" || fail "the album service did not start: $(cat "$cache/service.log")"

step "fotaviq --download of a demo album"
viewer='http://127.0.0.1/flash/vphoto.swf?uin=10001&fid=1'
out=$(in_net chroot "$root" env -i PATH=/usr/bin:/bin HOME=/root LANG=C.UTF-8 \
        fotaviq --download "$viewer" --dir /tmp/albums 2>"$cache/download.err") ||
  fail "the download failed: $(cat "$cache/download.err")"
album=$(printf '%s\n' "$out" | tail -n 1)
photos=$(find "$root$album" -maxdepth 1 -name '*.jpg' | wc -l)
[ "$photos" -eq 12 ] || fail "$photos photos in $album, not 12: $out"
[ ! -s "$cache/download.err" ] || fail "the download printed on stderr: $(cat "$cache/download.err")"

step "the window on a virtual display"
mkdir -p "$root/tmp/.X11-unix"
mount --bind /tmp/.X11-unix "$root/tmp/.X11-unix"
rm -f "$cache/display"  # the redirection below empties it only once Xvfb is on its way
nsenter --target "$holder" --net -- Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$cache/display" 2>"$cache/xvfb.log" &
xvfb=$!
for _ in $(seq 100); do [ -s "$cache/display" ] && break; sleep 0.1; done
[ -s "$cache/display" ] || fail "Xvfb did not start: $(cat "$cache/xvfb.log")"
export DISPLAY=:$(cat "$cache/display")
nsenter --target "$holder" --net -- chroot "$root" env -i PATH=/usr/bin:/bin HOME=/root LANG=C.UTF-8 \
  DISPLAY="$DISPLAY" fotaviq >"$cache/window.out" 2>"$cache/window.err" &
window=$!
pids+=($window)
shown=
for _ in $(seq 600); do
  running "$window" || fail "the program ended: $(cat "$cache/window.err")"
  shown=$(in_net xdotool search --onlyvisible --class fotaviq 2>/dev/null | head -n 1) && [ -n "$shown" ] && break
  sleep 0.1
done
[ -n "$shown" ] || fail "no window of the program was mapped within 60 s: $(cat "$cache/window.err")"
echo "mapped: \"$(in_net xdotool getwindowname "$shown")\""
sleep 3  # the page and the link list load; a late complaint shows on stderr
running "$window" || fail "the program ended: $(cat "$cache/window.err")"
stop "$window"
[ ! -s "$cache/window.err" ] || fail "a normal start printed on stderr: $(cat "$cache/window.err")"

echo "package test passed in $SECONDS s"
