#!/usr/bin/env bash
# The main job as a user meets it: a 200-photo album through the real window (on a virtual
# display with a window manager, the information page loaded and live), against the same
# photo list fetched by wget -i (one at a time) and by curl --parallel --parallel-max 4 (both
# with their defaults, which keep connections alive), in interleaved rounds; once from a service on loopback and
# once from a service that starts every answer 50 ms late, as a distant server would.
# Figures are medians of ROUNDS rounds (default 5). cpu-ratio is the CPU of the whole program
# (the browser's helper processes included) over curl's.
#   bench/app/run.sh [build dir]
# Needs root: it runs in a network namespace of its own (the photo fetcher uses port 80).
# CONNECTIONS=N sets the program's connections (default: its default setting).
set -euo pipefail
BUILD=${1:-build-bench}
if [ "${FOTAVIQ_ALBUM_BENCH_NS:-}" != 1 ]; then
  exec unshare -n env FOTAVIQ_ALBUM_BENCH_NS=1 "$0" "$@"
fi
ip link set lo up
BENCH=$BUILD/bench/app/album_bench
SERVER=$BUILD/tools/album-server/album-server
ROUNDS=${ROUNDS:-5}
LATENCY=50
for f in "$BENCH" "$SERVER"; do [ -x "$f" ] || { echo "missing $f (build with -DFOTAVIQ_BENCH=ON)" >&2; exit 1; }; done
# Downloads go to memory when it can hold them, so that disk write-back does not decide.
SCRATCH=/tmp; [ -d /dev/shm ] && [ -w /dev/shm ] && SCRATCH=/dev/shm
. "$(dirname "$0")/session.sh"
bench_session "$(mktemp -d $SCRATCH/album-bench-XXXXXX)"
start_display
NEAR=127.0.7.1; FAR=127.0.7.3; PACED=127.0.7.2
start_server $NEAR "$DIR/near.log"
start_server $FAR "$DIR/far.log" --latency $LATENCY
start_server $PACED "$DIR/paced.log" --throttle 200000

median() { sort -g | awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
TIMEFORMAT='%R %U %S'

# The waits of the program are cheap: 12 photos paced by the service, and the CPU meanwhile.
rm -rf "$DIR/app"; mkdir -p "$DIR/app"
read -r wall cpu main count _ _ < <("$BENCH" $PACED "uin=10001&fid=1" "$DIR/app" ${CONNECTIONS:-} 2>/dev/null)
awk -v n="$count" -v w="$wall" -v c="$cpu" -v m="$main" 'BEGIN {
  printf "paced service: %d photos in %.2fs, program cpu %.3fs (%.1f%%), main thread %.3fs (%.1f%%)\n",
         n, w, c, 100 * c / w, m, 100 * m / w }'

# album ADDR LATENCY: the rounds against one service, then its summary line.
album() {
  local addr=$1 latency=$2 r
  curl -s "http://$addr/cgi-bin/common/cgi_load_flash?uin=20000&fid=200" | grep -o '"url":"[^"]*"' | cut -d'"' -f4 >"$DIR/list.txt"
  [ "$(wc -l <"$DIR/list.txt")" = 200 ] || { echo "the album does not list 200 photos" >&2; exit 1; }
  : >"$DIR/app.t"; : >"$DIR/app.cpu"; : >"$DIR/wget.t"; : >"$DIR/curl.t"; : >"$DIR/curl.cpu"
  for r in $(seq "$ROUNDS"); do
    rm -rf "$DIR/app" "$DIR/wget" "$DIR/curl"; mkdir -p "$DIR/app" "$DIR/wget" "$DIR/curl"
    read -r wall cpu main count failures decode < <("$BENCH" "$addr" "uin=20000&fid=200" "$DIR/app" ${CONNECTIONS:-} 2>"$DIR/bench.err")
    [ "$failures" = 0 ] && [ "$count" = 200 ] || { echo "round $r: $count photos, $failures failures: $(cat "$DIR/bench.err")" >&2; exit 1; }
    wg=$( { time wget -q -i "$DIR/list.txt" -P "$DIR/wget" 2>/dev/null; } 2>&1 )
    cu=$( { time curl -s --parallel --parallel-max 4 --output-dir "$DIR/curl" --remote-name-all $(cat "$DIR/list.txt") 2>/dev/null; } 2>&1 )
    [ "$(ls "$DIR/curl" | wc -l)" = 200 ] && [ "$(ls "$DIR/wget" | wc -l)" = 200 ] || { echo "round $r: a peer missed photos" >&2; exit 1; }
    read -r wg_wall _ _ <<<"$wg"; read -r cu_wall cu_user cu_sys <<<"$cu"
    cu_cpu=$(awk -v u="$cu_user" -v s="$cu_sys" 'BEGIN { print u + s }')
    echo "latency $latency ms, round $r: Fotaviq ${wall}s (cpu ${cpu}s, main thread ${main}s, thumbnails alone ${decode}s)  wget ${wg_wall}s  curl-parallel ${cu_wall}s (cpu ${cu_cpu}s)"
    echo "$wall" >>"$DIR/app.t"; echo "$cpu" >>"$DIR/app.cpu"; echo "$wg_wall" >>"$DIR/wget.t"
    echo "$cu_wall" >>"$DIR/curl.t"; echo "$cu_cpu" >>"$DIR/curl.cpu"
  done
  awk -v lat="$latency" -v a="$(median <"$DIR/app.t")" -v w="$(median <"$DIR/wget.t")" -v c="$(median <"$DIR/curl.t")" \
      -v ac="$(median <"$DIR/app.cpu")" -v cc="$(median <"$DIR/curl.cpu")" 'BEGIN {
    printf "album 200 photos latency %d ms: fotaviq %.3f s, wget %.3f s, curl-parallel %.3f s, ratio-wget %.2f, ratio-curl %.2f, cpu-ratio %.2f\n",
           lat, a, w, c, a / w, a / c, (cc > 0 ? ac / cc : 0) }' >>"$DIR/summary"
}

album $NEAR 0
album $FAR $LATENCY
echo "goals: latency 0: ratio-wget <= 1.0; latency $LATENCY: ratio-wget <= 0.35, ratio-curl <= 1.15, cpu-ratio <= 3"
cat "$DIR/summary"
