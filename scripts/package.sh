#!/usr/bin/env bash
# Builds the Debian packages into ./build-deb and prints their paths (README
# says which to install where):
#   bash scripts/package.sh && sudo apt install ./build-deb/mirelva_*.deb ./build-deb/mirelva-echolink_*.deb
# A release build of the programs alone, with Debian's usual hardening.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build-deb -DCMAKE_BUILD_TYPE=Release -DMIRELVA_BUILD_TESTS=OFF \
  -DCMAKE_CXX_FLAGS="-D_FORTIFY_SOURCE=2 -fstack-protector-strong" \
  -DCMAKE_EXE_LINKER_FLAGS="-Wl,-z,relro,-z,now"
cmake --build build-deb -j "$(nproc)"
(cd build-deb && cpack -G DEB)
ls "$PWD"/build-deb/mirelva*.deb
