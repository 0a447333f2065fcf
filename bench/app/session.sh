# SPDX-License-Identifier: Apache-2.0
# Sourced by the window benchmarks: a scratch folder, child processes stopped at exit, a
# virtual display with a small window manager, and album services on port 80.

# bench_session DIR: DIR is removed and every process in pids stopped (last first) at exit.
bench_session() {
  DIR=$1
  pids=()
  trap bench_cleanup EXIT
}
bench_cleanup() {
  for ((k = ${#pids[@]} - 1; k >= 0; k--)); do kill -- "${pids[k]}" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$DIR"
}

# start_display [NUMBER]: Xvfb on that display, or the first free one (it writes the number
# once it is ready), exported as DISPLAY, its process id in xvfb; then evilwm, when
# installed, once it manages the display.
start_display() {
  Xvfb ${1:+":$1"} -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 3>"$DIR/display" 2>"$DIR/xvfb.log" &
  xvfb=$!; pids+=($xvfb)
  for _ in $(seq 100); do [ -s "$DIR/display" ] && break; sleep 0.05; done
  [ -s "$DIR/display" ] || { echo "Xvfb did not start: $(cat "$DIR/xvfb.log")" >&2; exit 1; }
  export DISPLAY=":$(head -n1 "$DIR/display")"
  if command -v evilwm >/dev/null; then
    evilwm >/dev/null 2>&1 & pids+=($!)
    for _ in $(seq 100); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break; sleep 0.05; done
  fi
}

# start_server ADDR LOG [OPTIONS...]: the album service ($SERVER) on ADDR:80, photos made
# before it listens.
start_server() {
  local addr=$1 log=$2; shift 2
  "$SERVER" --bind "$addr" --port 80 --pregenerate "$@" >"$log" 2>&1 & pids+=($!)
  for _ in $(seq 100); do grep -q listening "$log" 2>/dev/null && return; sleep 0.1; done
  echo "album service on $addr did not start" >&2; exit 1
}
