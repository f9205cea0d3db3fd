#!/usr/bin/env bash
# The one list of everything Mirelva needs on Debian 12: build tools, Qt 6
# (with WebEngine for the web tools window's browser), espeak-ng, ALSA, the X
# tools used to run it without a screen, SvxLink for mirelva-svxlink and the
# end-to-end tests, libgsm, spandsp and libgpiod for mirelva-echolink,
# Debian's EchoLib with its own event loop for the test that compares the
# node's packets with EchoLib's, Qt's HTTP server and WebSockets for the web console, and
# Chromium with its driver for the console's browser tests; openbox and
# the AT-SPI tools and Orca (whose debug log says what it speaks) to look at
# the windows as a user and a screen reader do; Debian's cross compilers for
# arm64 and armhf and qemu-user to run what they build (scripts/cross.sh,
# which unpacks the boards' own packages into a folder of its own); tzdata
# for the simulated month, which lives through a station's change from
# summer time.
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
  libecholib-dev libasynccpp-dev libasynccore-dev libasyncaudio-dev libsigc++-2.0-dev
  libgsm1-dev libspandsp-dev libgpiod-dev
  qt6-websockets-dev
  chromium chromium-driver python3-selenium
  openbox python3-pyatspi at-spi2-core dbus-daemon orca
  g++-aarch64-linux-gnu g++-arm-linux-gnueabihf qemu-user dpkg-dev
  tzdata
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

# axe-core, the accessibility checker the web console's browser test injects
# into the page: from npm, into a folder of the project's own (.deps/, not in git).
cd "$(dirname "$0")/.."
if [ ! -f .deps/npm/node_modules/axe-core/axe.min.js ]; then
  if ! command -v npm >/dev/null; then
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    $SUDO apt-get update
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends npm
  fi
  npm install --prefix .deps/npm --no-audit --no-fund axe-core@4.14.1
fi
