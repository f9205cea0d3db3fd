#!/usr/bin/env bash
# Builds the fuzz targets with clang (ASan, UBSan, libFuzzer) and runs each
# for a fixed time on its corpus:  bash scripts/fuzz.sh [SECONDS_EACH]
# New inputs the fuzzer finds go to a scratch folder, not into the corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
bash scripts/install-deps.sh
CXX=clang++ cmake -S . -B build-fuzz -DMIRELVA_FUZZ=ON -DMIRELVA_BUILD_TESTS=OFF >/dev/null
cmake --build build-fuzz -j "$(nproc)" --target fuzz_nodeprotocol fuzz_settingsstore fuzz_stationaudio fuzz_httphead \
  fuzz_el_control fuzz_el_audio fuzz_el_text fuzz_el_directory fuzz_el_dirclient fuzz_el_proxy fuzz_webconsole fuzz_websettings
export QT_QPA_PLATFORM=offscreen
export LSAN_OPTIONS=suppressions=$PWD/tests/fuzz/lsan.supp:print_suppressions=0
# tmpfs where there is one: the store syncs every save to disk.
[ -d /dev/shm ] && [ -w /dev/shm ] && export TMPDIR=/dev/shm
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for target in nodeprotocol settingsstore stationaudio httphead webconsole websettings el_control el_audio el_text el_directory el_dirclient el_proxy; do
  case $target in
    settingsstore) corpus=tests/fuzz/settings-corpus ;;
    stationaudio) corpus=$scratch/stationaudio-seed && mkdir -p "$corpus" ;;
    httphead) corpus=tests/fuzz/http-corpus ;;
    webconsole) corpus=tests/fuzz/web-corpus ;;
    websettings) corpus=tests/fuzz/websettings-corpus ;;
    el_*) corpus=tests/fuzz/echolink-corpus/${target#el_} ;;
    *) corpus=tests/fuzz/corpus ;;
  esac
  mkdir -p "$scratch/$target"
  echo "fuzz_$target: $seconds s on $corpus"
  start=$(date +%s)
  build-fuzz/fuzz_$target -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$scratch/" "$scratch/$target" "$corpus" 2>"$scratch/$target.log" || {
    tail -40 "$scratch/$target.log"; echo "fuzz_$target failed"; exit 1; }
  grep -E 'stat::number_of_executed_units|cov:' "$scratch/$target.log" | tail -2
  echo "fuzz_$target: clean after $(( $(date +%s) - start )) s"
done
