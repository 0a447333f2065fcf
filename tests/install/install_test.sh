#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The program as a user gets it: installed into a temporary prefix with cmake --install, its
# desktop entry, metainfo and manuals checked, the Debian package built, compared with the
# installation and checked by lintian, and the installed copy started by an unprivileged user
# with a home of its own.
#
# Usage: install_test.sh BUILD_DIR   (as root, everything built; exit status 77 = skipped)
# Needs loopback up (run it in a private network namespace): the album service listens on
# $host port 80, as the photo fetcher requires.
set -euo pipefail
build=$(realpath "$1")
[ "$(id -u)" -eq 0 ] || { echo "skipped: needs root (creates a test user, serves on port 80)"; exit 77; }

app_id=example.quellan.Fotaviq
user=fotaviq-test
host=127.0.16.1       # the album service
nobody_host=127.0.16.2  # nothing listens here

work=$(mktemp -d /tmp/fotaviq-install.XXXXXX)
chmod 755 "$work"  # the test user reaches the installation through it
prefix=$work/prefix
home=$work/home
pids=()
# running PID: the child has not ended (a child that ended stays a zombie until waited for).
running() { [ -e "/proc/$1" ] && ! grep -q '^[0-9]* (.*) Z' "/proc/$1/stat" 2>/dev/null; }
# stop PID: SIGTERM, SIGKILL after 5 s, then reaped.
stop() {
  kill "$1" 2>/dev/null || true
  for _ in $(seq 50); do running "$1" || break; sleep 0.1; done
  kill -9 "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}
window_pid=
cleanup() {
  [ -z "$window_pid" ] || stop "$window_pid"
  for p in "${pids[@]}"; do stop "$p"; done
  rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }
step() { echo "== $*"; }
# wait_for FILE PATTERN SECONDS: true once a line of FILE matches PATTERN.
wait_for() {
  for _ in $(seq $(($3 * 10))); do grep -q -- "$2" "$1" 2>/dev/null && return 0; sleep 0.1; done
  return 1
}

step "cmake --install into a temporary prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
installed=(bin/fotaviq bin/fotaviq-album-server
  share/applications/$app_id.desktop share/metainfo/$app_id.metainfo.xml
  share/icons/hicolor/48x48/apps/fotaviq.png share/icons/hicolor/scalable/apps/fotaviq.svg
  share/man/man1/fotaviq.1.gz share/man/man1/fotaviq-album-server.1.gz
  share/doc/fotaviq/copyright share/doc/fotaviq/changelog.gz)
for f in "${installed[@]}"; do [ -f "$prefix/$f" ] || fail "not installed: $f"; done
[ -x "$prefix/bin/fotaviq" ] && [ -x "$prefix/bin/fotaviq-album-server" ] || fail "programs not executable"
# A PNG's width and height are the 32-bit numbers at offsets 16 and 20.
[ "$(od -An -tx1 -j16 -N8 "$prefix/share/icons/hicolor/48x48/apps/fotaviq.png" | tr -d ' \n')" = 0000003000000030 ] ||
  fail "the 48x48 icon is not 48x48"

step "desktop entry and metainfo validate"
desktop-file-validate "$prefix/share/applications/$app_id.desktop"
grep -qx "Icon=fotaviq" "$prefix/share/applications/$app_id.desktop" || fail "the entry names another icon"
appstreamcli validate --no-net "$prefix/share/metainfo/$app_id.metainfo.xml"
# The tree check also finds the desktop entry the metainfo launches.
appstreamcli validate-tree --no-net "$prefix"

step "the manuals render without warnings"
for page in fotaviq fotaviq-album-server; do
  warnings=$(LC_ALL=C.UTF-8 man --warnings -l "$prefix/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man $page: $warnings"
done

step "cpack -G DEB: the package holds what cmake --install installs"
cpack -G DEB -B "$work/deb" --config "$build/CPackConfig.cmake" >/dev/null
deb=$(ls "$work"/deb/fotaviq_*.deb)
diff <(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $NF}' | sed 's|^\./usr/||' | sort) \
     <(cd "$prefix" && find . -type f | sed 's|^\./||' | sort) || fail "package and installation differ"
depends=$(dpkg-deb -f "$deb" Depends)
for p in libqt6webenginewidgets6 libqt6multimedia6 libqt6widgets6 libjpeg62-turbo \
         gstreamer1.0-plugins-base gstreamer1.0-plugins-good fonts-wqy-microhei; do
  [[ ", $depends," == *", $p"[\ ,]* ]] || fail "the package does not depend on $p: $depends"
done

step "one version: both programs, the package, the metainfo and the manuals"
version=$(dpkg-deb -f "$deb" Version)
[ "$("$prefix/bin/fotaviq" --version 2>&1)" = "fotaviq $version" ] ||
  fail "fotaviq --version printed: $("$prefix/bin/fotaviq" --version 2>&1) (package: $version)"
[ "$("$prefix/bin/fotaviq-album-server" --version 2>&1)" = "fotaviq-album-server $version" ] ||
  fail "fotaviq-album-server --version printed: $("$prefix/bin/fotaviq-album-server" --version 2>&1)"
grep -q "<release version=\"$version\"" "$prefix/share/metainfo/$app_id.metainfo.xml" ||
  fail "the metainfo's release is not $version"
for page in fotaviq fotaviq-album-server; do
  zcat "$prefix/share/man/man1/$page.1.gz" | head -n 1 | grep -q "\"Fotaviq $version\"" ||
    fail "man $page does not name version $version"
done

step "lintian: no error and no warning"
lint=$(lintian --fail-on error,warning "$deb" 2>&1) || fail "lintian: $lint"

step "the album service of the installation on $host:80"
"$prefix/bin/fotaviq-album-server" --bind "$host" --port 80 --verbose >"$work/service.log" 2>&1 &
pids+=($!)
wait_for "$work/service.log" "^listening" 10 || fail "the album service did not start: $(cat "$work/service.log")"

# The test user, with a home of its own and nothing from this environment.
id "$user" >/dev/null 2>&1 || useradd --system --no-create-home --shell /usr/sbin/nologin "$user"
mkdir -p "$home/.run" "$home/.config/fotaviq"
chown -R "$user:" "$home"
chmod 700 "$home" "$home/.run"
# "${as_user[@]}" COMMAND...: runs COMMAND as the test user, in the same process (so $! of a
# background run is the program's own id).
as_user=(setpriv --reuid="$user" --regid="$user" --clear-groups
  env -i HOME="$home" XDG_RUNTIME_DIR="$home/.run" PATH=/usr/bin:/bin LANG=C.UTF-8)
servers() {  # servers HOST: a [servers] section with every server on HOST
  printf '[servers]\n'
  for key in album viewer report links info; do printf '%s=%s\n' "$key" "$1"; done
}
user_settings() {  # user_settings HOST: the user's own settings file
  servers "$1" >"$home/.config/fotaviq/fotaviq.ini"
  chown "$user:" "$home/.config/fotaviq/fotaviq.ini"
}
link_requests() { grep -c "GET /app/zevorizediruru/i.php" "$work/service.log" || true; }
# start_window: the installed program's window (offscreen: no display here) until the link
# list, asked for at start-up, reaches the service; then it is closed.
start_window() {
  local before
  before=$(link_requests)
  "${as_user[@]}" "$prefix/bin/fotaviq" >"$work/window.log" 2>"$work/window.err" &
  window_pid=$!
  for _ in $(seq 300); do [ "$(link_requests)" -gt "$before" ] && break; sleep 0.1; done
  local asked=$(($(link_requests) > before))
  running "$window_pid" || fail "the program ended early: $(cat "$work/window.err")"
  stop "$window_pid"
  window_pid=
  # A normal start prints only real problems, and there are none here.
  [ ! -s "$work/window.err" ] || fail "the window's start printed on stderr: $(cat "$work/window.err")"
  [ "$asked" -eq 1 ]
}

step "installed copy: settings from ~/.config/fotaviq/fotaviq.ini"
user_settings "$host"
start_window || fail "the link list was not asked of $host: the user's settings were not read"

step "installed copy: a settings file beside the executable wins"
user_settings "$nobody_host"
servers "$host" >"$prefix/bin/fotaviq.ini"
start_window || fail "the link list was not asked of $host: the settings beside the executable were not read"
rm "$prefix/bin/fotaviq.ini"
user_settings "$host"

# From here on: the installed program, as the test user, with every server on $host.

step "installed copy: an album from the command line lands in the user's pictures folder"
out=$("${as_user[@]}" "$prefix/bin/fotaviq" --download "http://$host/flash/vphoto.swf?uin=20000&fid=3" 2>"$work/cli.err") ||
  fail "the download failed: $(cat "$work/cli.err")"
album="$home/Pictures/Fotaviq/三张照片 Trip"
[ "$(printf '%s\n' "$out" | tail -n 1)" = "$album/" ] || fail "the album folder printed is not $album/: $out"
for k in 0 1 2; do
  cmp -s "$album/$k.jpg" <(curl -s "http://$host/photos/three/$k.jpg") || fail "$album/$k.jpg differs from the service's"
done
[ "$(stat -c %U "$album/0.jpg")" = "$user" ] || fail "the photos do not belong to the user"
[ -z "$(find "$prefix" -newer "$prefix/bin/fotaviq" -name '*.txt' -o -newer "$prefix/bin/fotaviq" -name '*.part')" ] ||
  fail "files were written beside the installed program"

echo "install test passed"
