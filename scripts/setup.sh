#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Installs every Debian package the project needs (as root). Quick when all are there.
set -euo pipefail
PACKAGES=(
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  qt6-base-dev qt6-webengine-dev qt6-multimedia-dev libgl-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  qt6-declarative-dev fonts-wqy-microhei xvfb xauth x11-apps x11-utils imagemagick evilwm xdotool libx11-dev
  libjpeg62-turbo-dev libgtest-dev libgmock-dev libbenchmark-dev libcpp-httplib-dev libpcre2-dev
  nginx microsocks dante-server tinyproxy openssh-server curl wget aria2 sox lame
  libssl-dev openssl
  desktop-file-utils appstream man-db lintian
)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  # Peers are started by the tests themselves; keep the packages' services from starting.
  printf '#!/bin/sh\nexit 101\n' | $SUDO tee /usr/sbin/policy-rc.d >/dev/null
  $SUDO chmod +x /usr/sbin/policy-rc.d
  # With recommends, as the machine the suite was developed on (the browser control and
  # media back end rely on some of them at run time).
  $SUDO apt-get install -y -qq "${missing[@]}"
  $SUDO rm -f /usr/sbin/policy-rc.d
fi
