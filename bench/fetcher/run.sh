#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Fetches 200 files of 100 KB from nginx on loopback, one after another, with THTTPGet
# (WaitThread true) and with wget -i on the same list, in three alternating rounds, and
# prints the best times and their ratio. Then the same over HTTPS (a throw-away authority
# made with openssl, trusted through SSL_CERT_FILE) against wget -i and curl
# --parallel-max 1 of the list, THTTPGet also with each transfer naming the next (as the
# album's transfers do; nginx answers requests sent back to back). Then measures the
# processor time the main thread spends waiting on a rate-limited server.
#   bench/fetcher/run.sh [path/to/fetcher_bench]
# Needs root (the fetcher uses port 80 for http://) and nginx, wget, curl and openssl
# installed.
set -euo pipefail
BIN=${1:-build-bench/bench/fetcher/fetcher_bench}
ADDR=127.0.6.200
FILES=200
ROUNDS=3
unset http_proxy https_proxy no_proxy NO_PROXY

DIR=$(mktemp -d /tmp/fetcher-bench-XXXXXX)
chmod 755 "$DIR"
. "$(dirname "$0")/../nginx.sh"
. "$(dirname "$0")/../certs.sh"
cleanup() {
  stop_nginx
  rm -rf "$DIR"
}
trap cleanup EXIT

mkdir -p "$DIR/www/slow" "$DIR/logs"
for i in $(seq 1 $FILES); do head -c 102400 /dev/urandom >"$DIR/www/f$i.bin"; done
head -c 614400 /dev/urandom >"$DIR/www/slow/big.bin"
for i in $(seq 1 $FILES); do echo "http://$ADDR/f$i.bin"; done >"$DIR/list.txt"
for i in $(seq 1 $FILES); do echo "https://$ADDR/f$i.bin"; done >"$DIR/list-tls.txt"
for i in $(seq 1 $FILES); do printf 'url = "https://%s/f%d.bin"\noutput = "%s/out-curl/%d"\n' "$ADDR" "$i" "$DIR" "$i"; done >"$DIR/curl.cfg"

# The server's certificate, signed by an authority of its own.
make_certs "$DIR" "$ADDR"

start_nginx "$DIR" "$ADDR:80" "listen $ADDR:443 ssl; ssl_certificate $DIR/server.pem; ssl_certificate_key $DIR/server.key;
    location /slow/ { limit_rate 150k; }"

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

best_get=""; best_peer=""; best_follow=""
for r in $(seq 1 $ROUNDS); do
  rm -rf "$DIR/out-get" "$DIR/out-wget" "$DIR/out-curl"; mkdir -p "$DIR/out-get" "$DIR/out-wget" "$DIR/out-curl"
  read -r t failures < <(SSL_CERT_FILE="$DIR/ca.pem" "$BIN" list "$DIR/list-tls.txt" "$DIR/out-get")
  [ "$failures" = 0 ] || { echo "THTTPGet over HTTPS: $failures failed transfers"; exit 1; }
  rm -rf "$DIR/out-follow"; mkdir -p "$DIR/out-follow"
  read -r tf failures < <(SSL_CERT_FILE="$DIR/ca.pem" "$BIN" list "$DIR/list-tls.txt" "$DIR/out-follow" follow)
  [ "$failures" = 0 ] || { echo "THTTPGet naming the next over HTTPS: $failures failed transfers"; exit 1; }
  for i in 1 100 200; do
    cmp -s "$DIR/out-follow/$((i - 1))" "$DIR/www/f$i.bin" || { echo "THTTPGet naming the next wrote a different file $i"; exit 1; }
  done
  s=$(now); wget -q --no-config --ca-certificate="$DIR/ca.pem" -i "$DIR/list-tls.txt" -P "$DIR/out-wget"; e=$(now)
  tw=$(echo "$e - $s" | bc)
  s=$(now); curl -s --no-progress-meter --cacert "$DIR/ca.pem" --parallel --parallel-max 1 -K "$DIR/curl.cfg"; e=$(now)
  tc=$(echo "$e - $s" | bc)
  cmp -s "$DIR/out-get/0" "$DIR/www/f1.bin" || { echo "THTTPGet wrote a different file over HTTPS"; exit 1; }
  printf 'https round %d: THTTPGet %.3f s   naming the next %.3f s   wget -i %.3f s   curl --parallel-max 1 %.3f s\n' "$r" "$t" "$tf" "$tw" "$tc"
  faster=$tw; if [ "$(echo "$tc < $tw" | bc)" = 1 ]; then faster=$tc; fi
  if [ -z "$best_get" ] || [ "$(echo "$t < $best_get" | bc)" = 1 ]; then best_get=$t; fi
  if [ -z "$best_follow" ] || [ "$(echo "$tf < $best_follow" | bc)" = 1 ]; then best_follow=$tf; fi
  if [ -z "$best_peer" ] || [ "$(echo "$faster < $best_peer" | bc)" = 1 ]; then best_peer=$faster; fi
done
printf '%d files of 100 KB over HTTPS, best of %d: THTTPGet %.3f s, each naming the next %.3f s, faster of wget -i and curl %.3f s, ratio %.2f, naming the next %.2f (goal <= 0.8)\n' \
  "$FILES" "$ROUNDS" "$best_get" "$best_follow" "$best_peer" "$(echo "scale=4; $best_get / $best_peer" | bc)" \
  "$(echo "scale=4; $best_follow / $best_peer" | bc)"

echo "Waiting on a rate-limited server (600 KB at 150 KB/s), goal cpu/wall < 5%:"
printf '  without OnProgress: '; "$BIN" wait "http://$ADDR/slow/big.bin" "$DIR/slow1.bin"
printf '  with OnProgress:    '; "$BIN" wait "http://$ADDR/slow/big.bin" "$DIR/slow2.bin" progress
