#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Long run: one process downloads the 31-photo album again and again through the shown
# main window on a virtual display (its folder removed after each run) and prints its
# resident memory, open descriptors and threads every 10 albums; the last line gives the
# growth per 10 albums from album 10 to the end.
#   bench/app/soak.sh [build dir] [albums] [--no-page]
# --no-page runs without the information page's browser view. SOAK_DISPLAY picks the
# display number for Xvfb (default: the first free one); SOAK_WRAP is put before the
# driver's command line (a heap profiler, for example). Needs root: it runs in a network
# namespace of its own (the photo fetcher always uses port 80).
set -euo pipefail
BUILD=${1:-build-bench}
if [ "${FOTAVIQ_SOAK_NS:-}" != 1 ]; then
  exec unshare -n env FOTAVIQ_SOAK_NS=1 "$0" "$@"
fi
ip link set lo up
ALBUMS=${2:-300}
NOPAGE=${3:-}
BENCH=$BUILD/bench/app/soak_bench
SERVER=$BUILD/tools/album-server/album-server
ADDR=127.0.7.3
SCRATCH=/tmp; [ -d /dev/shm ] && [ -w /dev/shm ] && SCRATCH=/dev/shm
. "$(dirname "$0")/session.sh"
bench_session "$(mktemp -d $SCRATCH/soak-XXXXXX)"
start_display "${SOAK_DISPLAY:+${SOAK_DISPLAY#:}}"
start_server $ADDR "$DIR/server.log"

mkdir -p "$DIR/app"
QT_QPA_PLATFORM=xcb ${SOAK_WRAP:-} "$BENCH" $ADDR "uin=20000&fid=31" "$DIR/app" "$ALBUMS" $NOPAGE \
  2>"$DIR/bench.log" | tee "$DIR/lines" || true
grep -q "^failures 0$" "$DIR/lines" || { echo "the soak failed:" >&2; tail -20 "$DIR/bench.log" >&2; exit 1; }
awk -v page="$([ -n "$NOPAGE" ] && echo "no page" || echo "page")" '
  $1 == "album" && $2 == 10 { r0 = $4; a0 = $6; h0 = $8; f0 = $10; t0 = $12; p0 = $14; c0 = $16; s0 = $18 }
  $1 == "album" { n = $2; r = $4; a = $6; h = $8; f = $10; t = $12; p = $14; c = $16; s = $18 }
  $1 == "album" && $2 >= 10 && $4 > top { top = $4 }
  END {
    if (n <= 10) { print "too few albums for a growth figure"; exit 1 }
    k = (n - 10) / 10
    grow = (r - r0) / k; dt = t - t0; dp = p - p0
    met = (grow < 64 && f == f0 && dt - dp == 0) ? "met" : "MISSED"
    printf "albums 10..%d (%s, %.0fs, %.2f cpu s per album): rss %+.1f kB per 10 albums (anon %+.1f, malloc in use %+.1f; highest %+d kB), fds %+d, threads %+d (browser pool %+d, the rest %+d); goal rss < 64 kB per 10, fds 0, threads outside the browser pool 0: %s\n",
           n, page, s - s0, (c - c0) / (n - 10), grow, (a - a0) / k, (h - h0) / k, top - r0, f - f0, dt, dp, dt - dp, met
  }' "$DIR/lines"
