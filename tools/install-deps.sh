#!/usr/bin/env bash
# Installs the Debian packages that building, testing and the demo need.
# Usage: tools/install-deps.sh [extra package ...]
set -euo pipefail
packages=(
  build-essential cmake pkg-config
  libgtk2.0-dev libgconf2-dev gconf2 libsqlite3-dev
  libgtest-dev googletest
  xvfb xauth dbus dbus-x11 imagemagick x11-utils
  "$@"
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
