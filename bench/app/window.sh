#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The real window as a user meets it, on a virtual display with a small window manager and
# the bundled album service on 127.0.0.1:80 (the program's default servers):
#  - start-to-window: the time from starting build/app/fotaviq until its main window is
#    mapped and painted, seen from outside (window_probe), over STARTS starts (default 10);
#  - idle: the CPU of the program's whole process tree (the browser's helper processes
#    included) over IDLE seconds (default 30) once the information page has loaded, with
#    a screenshot of the screen taken just before (SHOT, default /tmp/fotaviq-window.png);
#  - download: a 200-photo album through that window (address typed in, download button
#    clicked), timed until the usage report arrives, with the CPU of the process tree.
#   bench/app/window.sh [build dir]
# Needs root: it runs in a network namespace of its own (port 80, and the display's
# abstract socket stays private). DISPLAY_NUM=N uses display :N instead of a free one.
set -euo pipefail
BUILD=${1:-build-bench}
if [ "${FOTAVIQ_WINDOW_NS:-}" != 1 ]; then
  exec unshare -n env FOTAVIQ_WINDOW_NS=1 "$0" "$@"
fi
ip link set lo up
APP=$BUILD/app/fotaviq
PROBE=$BUILD/bench/app/window_probe
SERVER=$BUILD/tools/album-server/album-server
STARTS=${STARTS:-10}
IDLE=${IDLE:-30}
SHOT=${SHOT:-/tmp/fotaviq-window.png}
command -v xdotool >/dev/null || { echo "xdotool is needed (scripts/setup.sh)" >&2; exit 1; }
for f in "$APP" "$PROBE" "$SERVER"; do [ -x "$f" ] || { echo "missing $f (build with -DFOTAVIQ_BENCH=ON)" >&2; exit 1; }; done
[ ! -e "$BUILD/app/fotaviq.ini" ] || { echo "$BUILD/app/fotaviq.ini would point the program elsewhere" >&2; exit 1; }

. "$(dirname "$0")/session.sh"
bench_session "$(mktemp -d /tmp/window-bench-XXXXXX)"
start_display "${DISPLAY_NUM:-}"
start_server 127.0.0.1 "$DIR/server.log" --verbose

# CPU ticks of a process and all its descendants; children already reaped count through
# their parent's cutime and cstime.
tree_ticks() {
  for f in /proc/[0-9]*/stat; do
    s=$(cat "$f" 2>/dev/null) || continue
    echo "${s%% *} ${s##*) }"
  done | awk -v root="$1" '
    { ppid[$1] = $3; t[$1] = $13 + $14 + $15 + $16 }
    END {
      in_tree[root] = 1
      do { grew = 0; for (p in ppid) if (!(p in in_tree) && (ppid[p] in in_tree)) { in_tree[p] = 1; grew = 1 } } while (grew)
      for (p in in_tree) { sum += t[p]; n++ }
      print sum + 0, n
    }'
}

# Start-to-window.
times=()
for i in $(seq "$STARTS"); do
  out=$("$PROBE" --timeout 20 -- "$APP") || { echo "start $i: no window" >&2; exit 1; }
  read -r _ mapped _ drawn <<<"$out"
  echo "start $i: mapped ${mapped} ms, drawn ${drawn} ms"
  times+=("$drawn")
  sleep 0.5
done
read -r median min max < <(printf '%s\n' "${times[@]}" | sort -n | awk '
  { v[NR] = $1 } END { m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; print m, v[1], v[NR] }')

# Idle, with the information page loaded. The program runs from a copy beside which the
# album is saved, so that the build folder stays clean.
mkdir "$DIR/app" && cp "$APP" "$DIR/app/"
lines=$(wc -l <"$DIR/server.log")
setsid "$DIR/app/fotaviq" >"$DIR/app.log" 2>&1 &
app=$!; pids+=("-$app")
for _ in $(seq 200); do tail -n +"$((lines + 1))" "$DIR/server.log" | grep -q app_info.php && break; sleep 0.05; done
tail -n +"$((lines + 1))" "$DIR/server.log" | grep -q app_info.php || { echo "the information page was not requested" >&2; exit 1; }
sleep 5  # the page renders and the window settles
import -window root "$SHOT"
echo "screenshot: $SHOT"
hz=$(getconf CLK_TCK)
read -r t0 p0 < <(tree_ticks "$app"); read -r x0 _ < <(tree_ticks "$xvfb")
sleep "$IDLE"
read -r t1 _ < <(tree_ticks "$app"); read -r x1 _ < <(tree_ticks "$xvfb")
awk -v a="$t0" -v b="$t1" -v xa="$x0" -v xb="$x1" -v hz="$hz" -v s="$IDLE" -v n="$p0" 'BEGIN {
  printf "idle %d s: program tree %.2f s cpu (%d processes), display server %.2f s\n", s, (b - a) / hz, n, (xb - xa) / hz }'
# An album through the window, as a user downloads one.
win=$(xdotool search --onlyvisible --pid "$app" | head -n1)
xdotool mousemove --window "$win" 380 24 click 1 key ctrl+a type "http://127.0.0.1/album/client/photo/swf/vphoto.swf?uin=20000&fid=200"
lines=$(wc -l <"$DIR/server.log")
read -r d0 _ < <(tree_ticks "$app"); s0=$(date +%s.%N)
xdotool mousemove --window "$win" 680 26 click 1
for _ in $(seq 1200); do tail -n +"$((lines + 1))" "$DIR/server.log" | grep -q log.php && break; sleep 0.05; done
read -r d1 _ < <(tree_ticks "$app"); s1=$(date +%s.%N)
tail -n +"$((lines + 1))" "$DIR/server.log" | grep -q log.php || { echo "the album did not finish" >&2; exit 1; }
photos=$(find "$DIR/app" -name '*.jpg' | wc -l)
awk -v n="$photos" -v a="$s0" -v b="$s1" -v c="$d0" -v d="$d1" -v hz="$hz" 'BEGIN {
  printf "download: %d photos in %.2f s, program tree %.2f s cpu\n", n, b - a, (d - c) / hz }'
awk -v m="$median" -v lo="$min" -v hi="$max" -v n="$STARTS" -v a="$t0" -v b="$t1" -v hz="$hz" -v s="$IDLE" 'BEGIN {
  printf "window: start-to-window median %.0f ms (min %.0f, max %.0f, %d starts; goal <= 300 ms), idle cpu %.2f%% of a core over %d s (goal < 0.2%%)\n",
         m, lo, hi, n, 100 * (b - a) / hz / s, s }'
