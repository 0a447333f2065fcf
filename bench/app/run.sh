#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The main job as a user meets it: a 200-photo album through the real window (on a virtual
# display with a window manager, the information page loaded and live), against the same
# photo list fetched by wget -i (one at a time) and by curl --parallel --parallel-max 4 (both
# with their defaults, which keep connections alive), in interleaved rounds; once from a service on loopback and
# once from a service that starts every answer 50 ms late, as a distant server would.
# Figures are medians of ROUNDS rounds (default 5). cpu-ratio is the CPU of the whole program
# (the browser's helper processes included) over curl's.
# Then the distant path as a real network makes it (DistantRelay.cpp in front of the
# service): every byte 25 ms late each way and every new connection charged its handshake,
# then 50 ms each way on a line of 2 MB/s that all connections share; at 4 and 8
# connections, the command line (fotaviq --download) and the window against wget -i,
# curl --parallel --parallel-max N and aria2c -j N, with the TCP connections the program
# opened for the album (counted by the relay). Then the first of these paths with the
# service speaking HTTPS (a throw-away authority made here, trusted by every tool) at 4
# connections: the command line against curl --parallel --parallel-max 4 and aria2c -j 4.
#   bench/app/run.sh [build dir]
# Needs root: it runs in a network namespace of its own (the photo fetcher uses port 80).
# CONNECTIONS=N sets the program's connections (default: its default setting) on loopback
# and at the 50 ms latency. PARTS picks the parts (default "loopback latency distant distant-https").
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
RELAY=$BUILD/bench/app/distant_relay
APP=$BUILD/app/fotaviq
PARTS=${PARTS:-loopback latency distant distant-https}
for f in "$BENCH" "$SERVER" "$RELAY" "$APP"; do [ -x "$f" ] || { echo "missing $f (build with -DFOTAVIQ_BENCH=ON)" >&2; exit 1; }; done
# Downloads go to memory when it can hold them, so that disk write-back does not decide.
SCRATCH=/tmp; [ -d /dev/shm ] && [ -w /dev/shm ] && SCRATCH=/dev/shm
. "$(dirname "$0")/session.sh"
. "$(dirname "$0")/../certs.sh"
bench_session "$(mktemp -d $SCRATCH/album-bench-XXXXXX)"
start_display
NEAR=127.0.7.1; FAR=127.0.7.3; PACED=127.0.7.2
part() { case " $PARTS " in *" $1 "*) return 0 ;; esac; return 1; }
part loopback && start_server $NEAR "$DIR/near.log" && start_server $PACED "$DIR/paced.log" --throttle 200000
part latency && start_server $FAR "$DIR/far.log" --latency $LATENCY
: >"$DIR/summary"

median() { sort -g | awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
TIMEFORMAT='%R %U %S'

# The waits of the program are cheap: 12 photos paced by the service, and the CPU meanwhile.
if part loopback; then
  rm -rf "$DIR/app"; mkdir -p "$DIR/app"
  read -r wall cpu main count _ _ < <("$BENCH" $PACED "uin=10001&fid=1" "$DIR/app" ${CONNECTIONS:-} 2>/dev/null)
  awk -v n="$count" -v w="$wall" -v c="$cpu" -v m="$main" 'BEGIN {
    printf "paced service: %d photos in %.2fs, program cpu %.3fs (%.1f%%), main thread %.3fs (%.1f%%)\n",
           n, w, c, 100 * c / w, m, 100 * m / w }'
fi

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

# start_relay ADDR SERVICE DELAY [RATE] LOG [PORT]: the distant path from ADDR:PORT to
# SERVICE:PORT (port 80 by default).
start_relay() {
  local listen=$1 service=$2 delay=$3 rate=$4 log=$5 port=${6:-80}
  "$RELAY" "$listen:$port" "$service:$port" "$delay" ${rate:+--rate "$rate"} >"$log" 2>&1 & pids+=($!)
  for _ in $(seq 100); do grep -q listening "$log" 2>/dev/null && return; sleep 0.05; done
  echo "relay on $listen did not start" >&2; exit 1
}
# Connections the relay saw from line $2 of its log on, but those of the window's start-up
# (the information page and the link list, loaded before the album starts).
relay_count() { tail -n +"$(($2 + 1))" "$1" | grep '^connection' | grep -v 'app_info' | grep -vc 'a=getlinks' || true; }

# distant RELAY LOG LABEL: the rounds over one distant path, at 4 and 8 connections.
distant() {
  local relay=$1 log=$2 label=$3 r n
  curl -s "http://$relay/cgi-bin/common/cgi_load_flash?uin=20000&fid=200" | grep -o '"url":"[^"]*"' | cut -d'"' -f4 >"$DIR/list.txt"
  [ "$(wc -l <"$DIR/list.txt")" = 200 ] || { echo "the album does not list 200 photos" >&2; exit 1; }
  grep -qv "^http://$relay/" "$DIR/list.txt" && { echo "photos bypass the relay" >&2; exit 1; }
  # The command line runs from a copy whose settings file points every server at the relay.
  mkdir -p "$DIR/cli"; cp "$APP" "$DIR/cli/"
  printf '[servers]\nalbum=%s\nviewer=%s\nreport=%s\nlinks=%s\ninfo=%s\n' $relay $relay $relay $relay $relay >"$DIR/cli/fotaviq.ini"
  rm -f "$DIR"/d.*
  for r in $(seq "$ROUNDS"); do
    rm -rf "$DIR/wget"; mkdir -p "$DIR/wget"
    wg=$( { time wget -q -i "$DIR/list.txt" -P "$DIR/wget" 2>/dev/null; } 2>&1 )
    [ "$(ls "$DIR/wget" | wc -l)" = 200 ] || { echo "round $r: wget missed photos" >&2; exit 1; }
    read -r wg _ <<<"$wg"; echo "$wg" >>"$DIR/d.wget"
    for n in 4 8; do
      rm -rf "$DIR/app" "$DIR/curl" "$DIR/aria2"; mkdir -p "$DIR/app" "$DIR/curl" "$DIR/aria2"
      before=$(wc -l <"$log")
      cl=$( { time "$DIR/cli/fotaviq" --download "http://$relay/album/client/photo/swf/vphoto.swf?uin=20000&fid=200" \
              --dir "$DIR/app" --connections $n >/dev/null 2>"$DIR/cli.err"; } 2>&1 ) ||
        { echo "round $r: the command line failed: $(cat "$DIR/cli.err")" >&2; exit 1; }
      [ "$(find "$DIR/app" -name '*.jpg' | wc -l)" = 200 ] || { echo "round $r: the command line missed photos" >&2; exit 1; }
      read -r cl _ <<<"$cl"; echo "$cl" >>"$DIR/d.cli.$n"; relay_count "$log" "$before" >>"$DIR/d.cliconn.$n"
      rm -rf "$DIR/app"; mkdir -p "$DIR/app"
      before=$(wc -l <"$log")
      read -r wall _ _ count failures _ < <("$BENCH" "$relay" "uin=20000&fid=200" "$DIR/app" $n 2>"$DIR/bench.err")
      [ "$failures" = 0 ] && [ "$count" = 200 ] || { echo "round $r: $count photos, $failures failures: $(cat "$DIR/bench.err")" >&2; exit 1; }
      echo "$wall" >>"$DIR/d.win.$n"; relay_count "$log" "$before" >>"$DIR/d.winconn.$n"
      cu=$( { time curl -s --parallel --parallel-max $n --output-dir "$DIR/curl" --remote-name-all $(cat "$DIR/list.txt") 2>/dev/null; } 2>&1 )
      ar=$( { time aria2c -q -j $n -d "$DIR/aria2" -i "$DIR/list.txt" 2>/dev/null; } 2>&1 )
      [ "$(ls "$DIR/curl" | wc -l)" = 200 ] && [ "$(ls "$DIR/aria2" | wc -l)" = 200 ] || { echo "round $r: a peer missed photos" >&2; exit 1; }
      read -r cu _ <<<"$cu"; read -r ar _ <<<"$ar"
      echo "$cu" >>"$DIR/d.curl.$n"; echo "$ar" >>"$DIR/d.aria2.$n"
      echo "$label, $n connections, round $r: command line ${cl}s ($(tail -n1 "$DIR/d.cliconn.$n") connections)  window ${wall}s ($(tail -n1 "$DIR/d.winconn.$n") connections)  wget ${wg}s  curl-parallel ${cu}s  aria2c ${ar}s"
    done
  done
  for n in 4 8; do
    for view in cli win; do
      awk -v view="$([ $view = cli ] && echo "command line" || echo window)" -v label="$label" -v n=$n \
          -v a="$(median <"$DIR/d.$view.$n")" -v w="$(median <"$DIR/d.wget")" -v c="$(median <"$DIR/d.curl.$n")" \
          -v r="$(median <"$DIR/d.aria2.$n")" 'BEGIN {
        printf "%s: album 200 photos %s, %d connections: fotaviq %.3f s, wget %.3f s, curl-parallel %.3f s, aria2c %.3f s, ratio-curl %.2f, ratio-aria2 %.2f\n",
               view, label, n, a, w, c, r, a / c, a / r }' >>"$DIR/summary"
    done
    echo "$label, $n connections: TCP connections fotaviq opened for the album (median, max): command line $(median <"$DIR/d.cliconn.$n"), $(sort -n "$DIR/d.cliconn.$n" | tail -n1); window $(median <"$DIR/d.winconn.$n"), $(sort -n "$DIR/d.winconn.$n" | tail -n1)" >>"$DIR/summary"
  done
}

# distant_https RELAY LOG LABEL CA: the album over HTTPS through the relay at 4 connections,
# the command line against curl --parallel --parallel-max 4 and aria2c -j 4, all trusting CA.
distant_https() {
  local relay=$1 log=$2 label=$3 ca=$4 r n=4
  curl -s --cacert "$ca" "https://$relay/cgi-bin/common/cgi_load_flash?uin=20000&fid=200" |
    grep -o '"url":"[^"]*"' | cut -d'"' -f4 >"$DIR/list.txt"
  [ "$(wc -l <"$DIR/list.txt")" = 200 ] || { echo "the album does not list 200 photos over HTTPS" >&2; exit 1; }
  grep -qv "^https://$relay/" "$DIR/list.txt" && { echo "photos bypass the relay" >&2; exit 1; }
  mkdir -p "$DIR/clis"; cp "$APP" "$DIR/clis/"
  printf '[servers]\nalbum=https://%s\nviewer=https://%s\nreport=https://%s\nlinks=https://%s\ninfo=https://%s\n' \
    $relay $relay $relay $relay $relay >"$DIR/clis/fotaviq.ini"
  rm -f "$DIR"/s.*
  for r in $(seq "$ROUNDS"); do
    rm -rf "$DIR/app" "$DIR/curl" "$DIR/aria2"; mkdir -p "$DIR/app" "$DIR/curl" "$DIR/aria2"
    before=$(wc -l <"$log")
    cl=$( { time "$DIR/clis/fotaviq" --download "https://$relay/album/client/photo/swf/vphoto.swf?uin=20000&fid=200" \
            --dir "$DIR/app" --connections $n --ca-file "$ca" >/dev/null 2>"$DIR/cli.err"; } 2>&1 ) ||
      { echo "round $r: the command line failed: $(cat "$DIR/cli.err")" >&2; exit 1; }
    [ "$(find "$DIR/app" -name '*.jpg' | wc -l)" = 200 ] || { echo "round $r: the command line missed photos" >&2; exit 1; }
    read -r cl _ <<<"$cl"; echo "$cl" >>"$DIR/s.cli"
    tail -n +"$((before + 1))" "$log" | grep -ac '^connection' >>"$DIR/s.cliconn" || true
    cu=$( { time curl -s --cacert "$ca" --parallel --parallel-max $n --output-dir "$DIR/curl" --remote-name-all $(cat "$DIR/list.txt") 2>/dev/null; } 2>&1 )
    ar=$( { time aria2c -q -j $n --ca-certificate="$ca" -d "$DIR/aria2" -i "$DIR/list.txt" 2>/dev/null; } 2>&1 )
    [ "$(ls "$DIR/curl" | wc -l)" = 200 ] || { echo "round $r: curl missed photos" >&2; exit 1; }
    [ "$(ls "$DIR/aria2" | wc -l)" = 200 ] || { echo "round $r: aria2c missed photos" >&2; exit 1; }
    read -r cu _ <<<"$cu"; read -r ar _ <<<"$ar"
    echo "$cu" >>"$DIR/s.curl"; echo "$ar" >>"$DIR/s.aria2"
    echo "HTTPS $label, $n connections, round $r: command line ${cl}s ($(tail -n1 "$DIR/s.cliconn") connections)  curl-parallel ${cu}s  aria2c ${ar}s"
  done
  awk -v label="$label" -v n=$n -v a="$(median <"$DIR/s.cli")" -v c="$(median <"$DIR/s.curl")" -v r="$(median <"$DIR/s.aria2")" 'BEGIN {
    printf "album 200 photos over HTTPS %s, %d connections: fotaviq %.3f s, curl-parallel %.3f s, aria2c %.3f s, ratio-curl %.2f, ratio-aria2 %.2f\n",
           label, n, a, c, r, a / c, a / r }' >>"$DIR/summary"
  echo "HTTPS $label, $n connections: TCP connections fotaviq opened (median, max): $(median <"$DIR/s.cliconn"), $(sort -n "$DIR/s.cliconn" | tail -n1)" >>"$DIR/summary"
}

part loopback && album $NEAR 0
part latency && album $FAR $LATENCY
if part distant; then
  # Each service writes the relay's address into its documents, so every photo goes through it.
  start_server 127.0.7.4 "$DIR/distant25.log" --public-host 127.0.7.5
  start_relay 127.0.7.5 127.0.7.4 25 "" "$DIR/relay25.log"
  start_server 127.0.7.6 "$DIR/distant50.log" --public-host 127.0.7.8
  start_relay 127.0.7.8 127.0.7.6 50 2000000 "$DIR/relay50.log"
  distant 127.0.7.5 "$DIR/relay25.log" "rtt 50 ms handshakes charged"
  distant 127.0.7.8 "$DIR/relay50.log" "rtt 100 ms 2 MB/s shared handshakes charged"
fi
if part distant-https; then
  # A throw-away authority and a certificate for the relay's address, made for this run.
  make_certs "$DIR" 127.0.7.10
  # The service speaks TLS itself; the relay only holds and forwards its bytes.
  start_server 127.0.7.9 "$DIR/distant25s.log" --port 443 --tls-cert "$DIR/server.pem" --tls-key "$DIR/server.key" \
    --public-host 127.0.7.10
  start_relay 127.0.7.10 127.0.7.9 25 "" "$DIR/relay25s.log" 443
  distant_https 127.0.7.10 "$DIR/relay25s.log" "rtt 50 ms handshakes charged" "$DIR/ca.pem"
fi
echo "goals: latency 0: ratio-wget <= 1.0; latency $LATENCY: ratio-wget <= 0.35, ratio-curl <= 1.15, cpu-ratio <= 3;" \
     "distant: ratio-curl <= 0.95 and ratio-aria2 <= 0.95, connections <= N + 3;" \
     "distant over HTTPS: ratio-curl <= 1.0 and ratio-aria2 <= 1.0"
cat "$DIR/summary"
