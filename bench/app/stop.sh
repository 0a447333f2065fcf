#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# How long a stop takes: fotaviq --download is interrupted (SIGINT, as Ctrl+C) while it
# waits on a photo that is slow, on one that stalls, in a pause before a retry, and in a
# name look-up that never answers (of a photo's host, and of the data document's); the time from the signal to the end of the process is
# printed per case (medians of ROUNDS, default 5). Goal: under 1 s in every case.
#   bench/app/stop.sh [build dir]
# Needs root: it runs in a network and mount namespace of its own (port 80, and a resolver
# that never answers in place of the system's).
set -euo pipefail
BUILD=${1:-build-bench}
if [ "${FOTAVIQ_STOP_BENCH_NS:-}" != 1 ]; then
  exec unshare -n -m env FOTAVIQ_STOP_BENCH_NS=1 "$0" "$@"
fi
ip link set lo up
FOTAVIQ=$BUILD/app/fotaviq
SERVER=$BUILD/tools/album-server/album-server
ROUNDS=${ROUNDS:-5}
for f in "$FOTAVIQ" "$SERVER"; do [ -x "$f" ] || { echo "missing $f" >&2; exit 1; }; done
DIR=$(mktemp -d /tmp/stop-bench-XXXXXX)
PIDS=()
cleanup() { for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; rm -rf "$DIR"; }
trap cleanup EXIT

# A resolver that takes every question and answers none.
printf 'nameserver 127.0.0.53\noptions timeout:30 attempts:1\n' > "$DIR/resolv.conf"
mount --bind "$DIR/resolv.conf" /etc/resolv.conf
python3 -c 'import socket,time
s=socket.socket(socket.AF_INET,socket.SOCK_DGRAM); s.bind(("127.0.0.53",53))
while True: s.recv(512)' & PIDS+=($!)

# nomusic: photo 1 stalls; notitle: photo 1 is refused every time (pauses of 0.5 s, 1 s, 2 s...);
# slow: photo 1 is paced over about 2 s. The second service writes a host name nobody resolves.
"$SERVER" --bind 127.0.8.1 --slow-rate 20000 --fail nomusic/1:always:stall --fail notitle/1:always:503 \
  >"$DIR/s1.log" 2>&1 & PIDS+=($!)
"$SERVER" --bind 127.0.8.2 --public-host photos.invalid.example >"$DIR/s2.log" 2>&1 & PIDS+=($!)
for a in 127.0.8.1 127.0.8.2; do
  for _ in $(seq 100); do curl -s -o /dev/null "http://$a/_test/inflight" && break; sleep 0.05; done
done
mkdir -p "$DIR/prog"; cp "$FOTAVIQ" "$DIR/prog/"
printf '[servers]\nalbum=127.0.8.1\nreport=127.0.8.1\n[download]\nretries=10\n' > "$DIR/prog/fotaviq.ini"

# One run: start, wait for the first photo line (or WAIT seconds), interrupt, time the end.
stop_ms() { # album-host query wait-for-first-line
  local out="$DIR/out" start end
  rm -rf "$DIR/albums"; mkdir -p "$DIR/albums"
  sed -i "s/^album=.*/album=$1/" "$DIR/prog/fotaviq.ini"
  "$DIR/prog/fotaviq" --download "http://$1/album/client/photo/swf/vphoto.swf?$2" --dir "$DIR/albums" >"$out" 2>&1 &
  local pid=$!
  if [ "$3" = line ]; then
    for _ in $(seq 200); do grep -q '^\[1/' "$out" && break; sleep 0.02; done
    sleep 0.5
  else
    sleep "$3"
  fi
  start=$(date +%s%N); kill -INT $pid; wait $pid || true; end=$(date +%s%N)
  find "$DIR/albums" -name '*.part' | grep -q . && echo "a .part was left behind" >&2
  echo $(( (end - start) / 1000000 ))
}
median() { sort -g | awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
for c in slow stalled retry lookup doclookup; do : > "$DIR/$c"; done
for _ in $(seq "$ROUNDS"); do
  stop_ms 127.0.8.1 "uin=20000&fid=9" line >> "$DIR/slow"
  stop_ms 127.0.8.1 "uin=20000&fid=4" line >> "$DIR/stalled"
  stop_ms 127.0.8.1 "uin=20000&fid=5" 2.2 >> "$DIR/retry"
  stop_ms 127.0.8.2 "uin=20000&fid=3" 1 >> "$DIR/lookup"
  stop_ms photos.invalid.example "uin=20000&fid=3" 1 >> "$DIR/doclookup"
done
printf 'stop (SIGINT to exit), medians of %d: slow photo %s ms, stalled photo %s ms, retry pause %s ms, name look-up %s ms, document look-up %s ms (goal < 1000 ms each)\n' \
  "$ROUNDS" "$(median < "$DIR/slow")" "$(median < "$DIR/stalled")" "$(median < "$DIR/retry")" "$(median < "$DIR/lookup")" \
  "$(median < "$DIR/doclookup")"
