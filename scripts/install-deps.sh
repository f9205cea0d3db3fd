#!/usr/bin/env bash
# The one list of everything Mirelva needs on Debian 12: build tools, Qt 6
# (with WebEngine for the web tools window's browser), espeak-ng, ALSA, the X
# tools used to run it without a screen, and SvxLink for mirelva-svxlink and
# its end-to-end test.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config ccache
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev
  qt6-webengine-dev libqt6webenginecore6-bin
  libespeak-ng-dev espeak-ng-data
  libasound2-dev alsa-utils
  xvfb xauth x11-utils xdotool imagemagick fonts-dejavu-core
  lintian desktop-file-utils appstream man-db
  clang
  svxlink-server
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
