#!/usr/bin/env bash
# Fetches 200 files of 100 KB from nginx on loopback, one after another, with THTTPGet
# (WaitThread true) and with wget -i on the same list, in three alternating rounds, and
# prints the best times and their ratio. Then measures the processor time the main thread
# spends waiting on a rate-limited server.
#   bench/fetcher/run.sh [path/to/fetcher_bench]
# Needs root (the fetcher always uses port 80) and nginx and wget installed.
set -euo pipefail
BIN=${1:-build-bench/bench/fetcher/fetcher_bench}
ADDR=127.0.6.200
FILES=200
ROUNDS=3
unset http_proxy https_proxy no_proxy NO_PROXY

DIR=$(mktemp -d /tmp/fetcher-bench-XXXXXX)
chmod 755 "$DIR"
. "$(dirname "$0")/../nginx.sh"
cleanup() {
  stop_nginx
  rm -rf "$DIR"
}
trap cleanup EXIT

mkdir -p "$DIR/www/slow" "$DIR/logs"
for i in $(seq 1 $FILES); do head -c 102400 /dev/urandom >"$DIR/www/f$i.bin"; done
head -c 614400 /dev/urandom >"$DIR/www/slow/big.bin"
for i in $(seq 1 $FILES); do echo "http://$ADDR/f$i.bin"; done >"$DIR/list.txt"

start_nginx "$DIR" "$ADDR:80" "location /slow/ { limit_rate 150k; }"

now() { date +%s.%N; }
best_get=""; best_wget=""
for r in $(seq 1 $ROUNDS); do
  rm -rf "$DIR/out-get" "$DIR/out-wget"; mkdir -p "$DIR/out-get" "$DIR/out-wget"
  read -r t failures < <("$BIN" list "$DIR/list.txt" "$DIR/out-get")
  [ "$failures" = 0 ] || { echo "THTTPGet: $failures failed transfers"; exit 1; }
  s=$(now); wget -q --no-config -i "$DIR/list.txt" -P "$DIR/out-wget"; e=$(now)
  tw=$(echo "$e - $s" | bc)
  cmp -s "$DIR/out-get/0" "$DIR/www/f1.bin" || { echo "THTTPGet wrote a different file"; exit 1; }
  printf 'round %d: THTTPGet %.3f s   wget -i %.3f s\n' "$r" "$t" "$tw"
  if [ -z "$best_get" ] || [ "$(echo "$t < $best_get" | bc)" = 1 ]; then best_get=$t; fi
  if [ -z "$best_wget" ] || [ "$(echo "$tw < $best_wget" | bc)" = 1 ]; then best_wget=$tw; fi
done
printf '%d files of 100 KB, best of %d: THTTPGet %.3f s, wget -i %.3f s, ratio THTTPGet/wget %.2f (goal <= 1)\n' \
  "$FILES" "$ROUNDS" "$best_get" "$best_wget" "$(echo "scale=4; $best_get / $best_wget" | bc)"

echo "Waiting on a rate-limited server (600 KB at 150 KB/s), goal cpu/wall < 5%:"
printf '  without OnProgress: '; "$BIN" wait "http://$ADDR/slow/big.bin" "$DIR/slow1.bin"
printf '  with OnProgress:    '; "$BIN" wait "http://$ADDR/slow/big.bin" "$DIR/slow2.bin" progress
