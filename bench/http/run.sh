#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Downloads a 200 MB file from nginx on loopback into a file, with THttpCli (http_bench)
# and with curl, in alternating rounds, and prints the median and best wall times, the best
# processor times, their ratios (goal: median wall time at most 1.1 times curl's) and the
# peak memory of each. Then the same over HTTPS (a certificate made here with openssl, both
# clients on the system's OpenSSL, trusting it as an extra authority), ending in the line
# "https 200 MB from nginx: THttpCli X s, curl Y s, ratio Z" (medians; goal Z <= 0.9), and
# once more with curl made to use THttpCli's preferred cipher, for comparison.
#   bench/http/run.sh [path/to/http_bench]
set -euo pipefail
BIN=${1:-build-bench/bench/http/http_bench}
ROUNDS=${ROUNDS:-9}
SIZE_MB=200
unset http_proxy https_proxy no_proxy NO_PROXY

DIR=$(mktemp -d /tmp/http-bench-XXXXXX)
chmod 755 "$DIR"
. "$(dirname "$0")/../nginx.sh"
cleanup() {
  stop_nginx
  rm -rf "$DIR"
}
trap cleanup EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
PORT=$(free_port)
TPORT=$(free_port)
mkdir -p "$DIR/www" "$DIR/logs"
head -c $((SIZE_MB << 20)) /dev/urandom >"$DIR/www/big.bin"
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj /CN=127.0.0.1 \
  -addext subjectAltName=IP:127.0.0.1 -keyout "$DIR/key.pem" -out "$DIR/cert.pem" 2>/dev/null
start_nginx "$DIR" "127.0.0.1:$PORT" \
  "listen 127.0.0.1:$TPORT ssl; ssl_certificate $DIR/cert.pem; ssl_certificate_key $DIR/key.pem;"
URL="http://127.0.0.1:$PORT/big.bin"
TURL="https://127.0.0.1:$TPORT/big.bin"

best() { if [ -z "$1" ] || [ "$(echo "$2 < $1" | bc)" = 1 ]; then echo "$2"; else echo "$1"; fi; }
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
# Both are timed the same way, as whole commands from the outside, each starting after
# the previous round's file has been removed and written back (sync), so that neither
# pays for the other's disk traffic.
now() { date +%s.%N; }
# race URL [CA-FILE [CURL-OPTION...]]: ROUNDS alternating rounds of both clients.
race() {
  local url=$1 ca=${2:-}
  local curl_ca=(); [ -n "$ca" ] && curl_ca=(--cacert "$ca" "${@:3}")
  bw=""; bc_=""; bcpu=""; bccpu=""; rss=0; crss=0
  walls=(); cwalls=()
  for r in $(seq 1 "$ROUNDS"); do
    rm -f "$DIR/a.bin" "$DIR/b.bin"; sync
    t0=$(now)
    read -r _ u s m n < <("$BIN" "$url" "$DIR/a.bin" $ca)
    t1=$(now); w=$(echo "$t1 - $t0" | bc)
    [ "$n" = $((SIZE_MB << 20)) ] || { echo "THttpCli received $n bytes"; exit 1; }
    cmp -s "$DIR/a.bin" "$DIR/www/big.bin" || { echo "THttpCli wrote a different file"; exit 1; }
    rm -f "$DIR/a.bin"; sync
    t0=$(now)
    read -r _ cu cs cm < <( { /usr/bin/time -f '%e %U %S %M' curl -s "${curl_ca[@]}" -o "$DIR/b.bin" "$url"; } 2>&1 )
    t1=$(now); cw=$(echo "$t1 - $t0" | bc)
    rm -f "$DIR/b.bin"
    cpu=$(echo "$u + $s" | bc); ccpu=$(echo "$cu + $cs" | bc)
    printf '%sround %d: THttpCli wall %.3f s cpu %.3f s rss %d KB   curl wall %.3f s cpu %.3f s rss %d KB\n' \
      "${ca:+https }" "$r" "$w" "$cpu" "$m" "$cw" "$ccpu" "$cm"
    walls+=("$w"); cwalls+=("$cw")
    bw=$(best "$bw" "$w"); bc_=$(best "$bc_" "$cw"); bcpu=$(best "$bcpu" "$cpu"); bccpu=$(best "$bccpu" "$ccpu")
    [ "$m" -gt "$rss" ] && rss=$m; [ "$cm" -gt "$crss" ] && crss=$cm
  done
  mw=$(median "${walls[@]}"); mcw=$(median "${cwalls[@]}")
}
race "$URL"
printf '%d MB from nginx on loopback, %d rounds: THttpCli wall median %.3f s best %.3f s cpu best %.3f s;' \
  "$SIZE_MB" "$ROUNDS" "$mw" "$bw" "$bcpu"
printf ' curl wall median %.3f s best %.3f s cpu best %.3f s\n' "$mcw" "$bc_" "$bccpu"
# Both commands swing by a tenth from round to round on a shared machine; the medians
# of the interleaved rounds are what the goal is judged on.
printf 'ratios THttpCli/curl: wall median %.2f (goal <= 1.1), wall best %.2f, cpu best %.2f; peak rss THttpCli %d KB, curl %d KB\n' \
  "$(echo "scale=4; $mw / $mcw" | bc)" "$(echo "scale=4; $bw / $bc_" | bc)" "$(echo "scale=4; $bcpu / $bccpu" | bc)" "$rss" "$crss"

race "$TURL" "$DIR/cert.pem"
printf 'https %d MB from nginx: THttpCli %.3f s, curl %.3f s, ratio %.2f (goal <= 0.9; medians of %d rounds, cpu best THttpCli %.3f s curl %.3f s)\n' \
  "$SIZE_MB" "$mw" "$mcw" "$(echo "scale=4; $mw / $mcw" | bc)" "$ROUNDS" "$bcpu" "$bccpu"
# THttpCli offers AES-128-GCM first, curl AES-256-GCM; nginx follows the client. For
# comparison, the same race with curl on THttpCli's cipher.
race "$TURL" "$DIR/cert.pem" --ciphers ECDHE-ECDSA-AES128-GCM-SHA256
printf 'https 200 MB, curl on the same cipher (AES-128-GCM): THttpCli %.3f s, curl %.3f s, ratio %.2f (for comparison)\n' \
  "$mw" "$mcw" "$(echo "scale=4; $mw / $mcw" | bc)"
