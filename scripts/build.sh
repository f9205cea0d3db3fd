#!/usr/bin/env bash
# Installs what Mirelva needs and builds it into ./build.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build
cmake --build build -j "$(nproc)"
