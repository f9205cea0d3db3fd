#!/usr/bin/env bash
# Installs, builds and starts Mirelva. With no display it runs on a virtual
# one (Xvfb), writes a screenshot of its windows to a PNG whose path it
# prints, and keeps running until interrupted (Ctrl+C).
set -euo pipefail
cd "$(dirname "$0")/.."
# Only the two programs: the tests and benchmarks are the test command's.
bash scripts/install-deps.sh
cmake -S . -B build >/dev/null
cmake --build build -j "$(nproc)" --target mirelva mirelva-node

# Qt wants a private runtime folder; a shell without a login session has none.
if [ -z "${XDG_RUNTIME_DIR:-}" ] || [ ! -w "${XDG_RUNTIME_DIR:-}" ]; then
  XDG_RUNTIME_DIR=$(mktemp -d /tmp/mirelva-runtime-XXXXXX)
  chmod 700 "$XDG_RUNTIME_DIR"
  export XDG_RUNTIME_DIR
fi

if [ -n "${DISPLAY:-}" ]; then
  exec ./build/mirelva
fi

# Find a free display number for the virtual screen.
num=90
while [ -e "/tmp/.X11-unix/X$num" ] || [ -e "/tmp/.X$num-lock" ]; do num=$((num + 1)); done
export DISPLAY=":$num"
# In a session of its own, so Ctrl+C in the terminal reaches the script (which
# ends Mirelva first) and not the display under Mirelva.
setsid Xvfb "$DISPLAY" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
app_pid=""
# Mirelva goes first and is waited for, so it never sees its display vanish.
cleanup() {
  if [ -n "$app_pid" ]; then
    kill "$app_pid" 2>/dev/null || true
    wait "$app_pid" 2>/dev/null || true
  fi
  kill "$xvfb_pid" 2>/dev/null || true
  wait "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# A busy machine can take a while to bring the virtual screen up.
for _ in $(seq 300); do
  xdpyinfo >/dev/null 2>&1 && break
  kill -0 "$xvfb_pid" 2>/dev/null || { echo "The virtual display (Xvfb) did not start." >&2; exit 1; }
  sleep 0.1
done
xdpyinfo >/dev/null 2>&1 || { echo "The virtual display (Xvfb) did not answer within 30 s." >&2; exit 1; }

./build/mirelva &
app_pid=$!

# Wait for the main window, then give it a moment to paint.
for _ in $(seq 100); do
  xdotool search --name "^Mirelva" >/dev/null 2>&1 && break
  kill -0 "$app_pid" 2>/dev/null || { echo "Mirelva ended before its window appeared." >&2; exit 1; }
  sleep 0.1
done
sleep 1

shot="$PWD/screenshots/mirelva-$(date +%Y%m%d-%H%M%S).png"
mkdir -p "$(dirname "$shot")"
import -window root "$shot"
echo "Mirelva is running on virtual display $DISPLAY."
echo "Screenshot: $shot"
echo "Press Ctrl+C to stop."
wait "$app_pid"
