#!/usr/bin/env bash
# The whole workflow against the bundled album service: a 200-photo album through the
# main window, then the same photo list with wget -i, in alternating rounds; prints the
# best times and their ratio. Then a 12-photo album from a service that paces every photo
# (--throttle), with the CPU time spent while waiting.
#   bench/app/run.sh [build dir]
# Needs root (the photo fetcher always uses port 80).
set -euo pipefail
BUILD=${1:-build-bench}
BENCH=$BUILD/bench/app/album_bench
SERVER=$BUILD/tools/album-server/album-server
ADDR=127.0.7.1
SLOW=127.0.7.2
ROUNDS=${ROUNDS:-5}
# Both downloads go to memory when it can hold them, so that disk write-back and the
# journal do not decide the ratio.
SCRATCH=/tmp; [ -d /dev/shm ] && [ -w /dev/shm ] && SCRATCH=/dev/shm
DIR=$(mktemp -d $SCRATCH/album-bench-XXXXXX)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$DIR"; }
trap cleanup EXIT

start_server() {  # addr log args...
  local addr=$1 log=$2; shift 2
  "$SERVER" --bind "$addr" --port 80 --pregenerate "$@" >"$log" 2>&1 & pids+=($!)
  for _ in $(seq 100); do grep -q listening "$log" 2>/dev/null && return; sleep 0.1; done
  echo "album service on $addr did not start" >&2; exit 1
}
start_server $ADDR "$DIR/server.log"
start_server $SLOW "$DIR/slow.log" --throttle 200000

curl -s "http://$ADDR/cgi-bin/common/cgi_load_flash?uin=20000&fid=200" | grep -o '"url":"[^"]*"' | cut -d'"' -f4 >"$DIR/list.txt"
echo "photos: $(wc -l <"$DIR/list.txt")"

best_app=""; best_wget=""
for r in $(seq $ROUNDS); do
  rm -rf "$DIR/app" "$DIR/wget"; mkdir -p "$DIR/app" "$DIR/wget"
  read -r wall cpu main count failures decode < <("$BENCH" $ADDR "uin=20000&fid=200" "$DIR/app" 2>/dev/null)
  [ "$failures" = 0 ] && [ "$count" = 200 ] || { echo "round $r: $count photos, $failures failures" >&2; exit 1; }
  # One connection per file, as the photo fetcher makes.
  t0=$(date +%s.%N); wget -q --no-http-keep-alive -i "$DIR/list.txt" -P "$DIR/wget"; t1=$(date +%s.%N)
  wg=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')
  echo "round $r: Fotaviq ${wall}s (cpu ${cpu}s, main thread ${main}s; decoding the 30 thumbnails again alone ${decode}s)  wget ${wg}s"
  best_app=$(awk -v b="$best_app" -v x="$wall" 'BEGIN { print (b == "" || x < b) ? x : b }')
  best_wget=$(awk -v b="$best_wget" -v x="$wg" 'BEGIN { print (b == "" || x < b) ? x : b }')
done
awk -v a="$best_app" -v w="$best_wget" 'BEGIN { printf "best: Fotaviq %.3fs  wget %.3fs  ratio %.2f (goal <= 1.2)\n", a, w, a / w }'

rm -rf "$DIR/app"; mkdir -p "$DIR/app"
read -r wall cpu main count failures _ < <("$BENCH" $SLOW "uin=10001&fid=1" "$DIR/app" 2>/dev/null)
awk -v n="$count" -v w="$wall" -v c="$cpu" -v m="$main" 'BEGIN {
  printf "paced service: %d photos in %.2fs, process cpu %.3fs (%.1f%%), main thread %.3fs (%.1f%%) (goal < 10%%)\n",
         n, w, c, 100 * c / w, m, 100 * m / w }'
