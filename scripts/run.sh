#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Installs what is missing, builds, starts the bundled album service on 127.0.0.1:80 and
# opens Fotaviq (with a demo album's address in its address field). Without a display it
# starts a virtual one (Xvfb :99); look at it with: DISPLAY=:99 import -window root shot.png
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target fotaviq $( [ -d tools/album-server ] && echo album-server )

pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; }
trap cleanup EXIT

if [ -z "${DISPLAY:-}" ]; then
  export DISPLAY=:99
  if ! xdpyinfo -display :99 >/dev/null 2>&1; then
    Xvfb :99 -screen 0 1280x800x24 >/dev/null 2>&1 & pids+=($!)
    sleep 1
  fi
  echo "No display: running on Xvfb $DISPLAY"
fi

if [ -x build/tools/album-server/album-server ]; then
  build/tools/album-server/album-server --bind 127.0.0.1 --port 80 > build/album-server.log 2>&1 & pids+=($!)
  for _ in $(seq 50); do grep -q listening build/album-server.log 2>/dev/null && break; sleep 0.1; done
  echo "Album service: $(head -1 build/album-server.log)"
fi

build/app/fotaviq
