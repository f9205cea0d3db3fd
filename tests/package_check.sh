#!/usr/bin/env bash
# Builds the Debian package from a finished build tree and checks what an
# installing operator relies on: the files, the declared libraries, and the
# desktop entry and metainfo being valid. lintian errors fail it too.
set -uo pipefail
build=${1:?usage: package_check.sh BUILD_DIR}
src=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0 failed=0
check() { # name, then the command that must succeed
  local name=$1; shift
  if "$@" >"$work/out" 2>&1; then passed=$((passed + 1)); else
    failed=$((failed + 1)); echo "FAIL: $name"; sed 's/^/    /' "$work/out" | head -20
  fi
}

if ! cpack --config "$build/CPackConfig.cmake" -B "$work/pkg" -G DEB >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"; echo "0 passed, 1 failed"; exit 1
fi
deb=$(ls "$work"/pkg/*.deb)
echo "package: $(basename "$deb"), $(stat -c %s "$deb") bytes"
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' >"$work/files"
dpkg-deb -x "$deb" "$work/root"

expected=(
  /usr/bin/mirelva /usr/bin/mirelva-node /usr/lib/mirelva/mirelva_webview.so
  /usr/share/applications/mirelva.desktop
  /usr/share/metainfo/org.mirelva.mirelva.metainfo.xml
  /usr/share/icons/hicolor/scalable/apps/mirelva.svg
  /usr/share/icons/hicolor/128x128/apps/mirelva.png
  /usr/share/man/man1/mirelva.1.gz /usr/share/man/man1/mirelva-node.1.gz
  /usr/lib/systemd/user/mirelva.service /usr/lib/systemd/user/mirelva-headless.service
  /usr/share/doc/mirelva/web-console.md
  /usr/share/doc/mirelva/copyright /usr/share/doc/mirelva/changelog.gz
  /usr/share/doc/mirelva/README.md
  /usr/share/mirelva/examples/nodelink.ini.example
)
if [ -x "$build/mirelva-svxlink" ]; then
  expected+=(/usr/bin/mirelva-svxlink /usr/share/man/man1/mirelva-svxlink.1.gz
             /usr/lib/systemd/system/mirelva-svxlink.service)
fi
if [ -x "$build/mirelva-echolink" ]; then
  expected+=(/usr/bin/mirelva-echolink /usr/share/man/man1/mirelva-echolink.1.gz
             /usr/lib/systemd/system/mirelva-echolink.service /usr/share/doc/mirelva/echolink.md)
fi
for f in "${expected[@]}"; do check "package holds $f" grep -qxF "$f" "$work/files"; done
check "no test or benchmark program is packaged" bash -c "! grep -E '/(test|bench)_' '$work/files'"
# Every packaged program has its manual page.
for b in "$work"/root/usr/bin/*; do
  check "manual page for $(basename "$b")" test -f "$work/root/usr/share/man/man1/$(basename "$b").1.gz"
done

depends=$(dpkg-deb -f "$deb" Depends)
# mirelva-echolink's libraries, read from what it links: libgsm for the
# audio, and nothing of EchoLib's.
if [ -x "$build/mirelva-echolink" ]; then
  check "Depends names libgsm1" grep -q "\blibgsm1\b" <<<"$depends"
  for lib in libecholib1.3 libasyncaudio1.6 libasynccore1.6 libasyncqt1.6; do
    check "Depends does not name $lib" bash -c "! grep -q '\b$lib\b' <<<'$depends'"
  done
fi
for lib in libqt6widgets6 libqt6network6 libqt6httpserver6 libqt6websockets6 libqt6webenginewidgets6 libespeak-ng1 libasound2 libc6 espeak-ng-data libqt6webenginecore6-bin; do
  check "Depends names $lib" grep -q "\b$lib\b" <<<"$depends"
done

# The system units a root operator enables key a transmitter: systemd's own
# rating of each must stay at the level reached (1.6 "OK"; docs/node-units.md).
if command -v systemd-analyze >/dev/null; then
  for unit in "$work"/root/usr/lib/systemd/system/*.service; do
    [ -e "$unit" ] || continue
    check "$(basename "$unit") rated at most 2.0 by systemd-analyze security" \
      systemd-analyze security --offline=true --threshold=20 "$unit"
  done
fi

check "desktop entry valid" desktop-file-validate "$work/root/usr/share/applications/mirelva.desktop"
check "metainfo valid" appstreamcli validate --no-net "$work/root/usr/share/metainfo/org.mirelva.mirelva.metainfo.xml"
check "manual pages format cleanly" bash -c "for p in '$work'/root/usr/share/man/man1/*.gz; do
  w=\$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l \"\$p\" 2>&1 >/dev/null); [ -z \"\$w\" ] || { echo \"\$p: \$w\"; exit 1; }; done"
if command -v lintian >/dev/null; then
  lintian --allow-root "$deb" >"$work/lintian" 2>&1
  cat "$work/lintian"
  check "lintian reports no errors" bash -c "! grep -q '^E:' '$work/lintian'"
else
  echo "lintian is not installed: its check is skipped"
fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
