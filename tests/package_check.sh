#!/usr/bin/env bash
# Builds the Debian packages from a finished build tree and checks what an
# installing operator relies on: which package holds which files, the
# declared libraries (no web engine for a station with no screen), the
# units' confinement, and the desktop entry and metainfo being valid.
# lintian errors in any package fail it too.
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
# The packages themselves, kept where a caller wants them (scripts/cross.sh).
[ -n "${MIRELVA_DEB_DIR:-}" ] && cp "$work"/pkg/*.deb "$MIRELVA_DEB_DIR"/
# One package each: the announcer, the web tools window's browser module,
# and each node program built here. All are unpacked into one tree for the
# checks that look across them.
declare -A deb
for f in "$work"/pkg/*.deb; do
  name=$(dpkg-deb -f "$f" Package)
  deb[$name]=$f
  echo "package: $(basename "$f"), $(stat -c %s "$f") bytes"
  dpkg-deb -c "$f" | awk '{print $6}' | sed 's|^\./|/|' >"$work/files.$name"
  dpkg-deb -x "$f" "$work/root"
done
packages=(mirelva mirelva-webview mirelva-node)
[ -x "$build/mirelva-svxlink" ] && packages+=(mirelva-svxlink)
[ -x "$build/mirelva-echolink" ] && packages+=(mirelva-echolink)
check "exactly the packages ${packages[*]} are built" \
  test "$(printf '%s\n' "${!deb[@]}" | sort | tr '\n' ' ')" = "$(printf '%s\n' "${packages[@]}" | sort | tr '\n' ' ')"

holds() { # package, files it must hold
  local p=$1; shift
  for f in "$@"; do check "$p holds $f" grep -qxF "$f" "$work/files.$p"; done
  check "$p carries its copyright and changelog" grep -qxF "/usr/share/doc/$p/copyright" "$work/files.$p"
}
holds mirelva /usr/bin/mirelva \
  /usr/share/applications/mirelva.desktop \
  /usr/share/metainfo/org.mirelva.mirelva.metainfo.xml \
  /usr/share/icons/hicolor/scalable/apps/mirelva.svg \
  /usr/share/icons/hicolor/128x128/apps/mirelva.png \
  /usr/share/man/man1/mirelva.1.gz \
  /usr/lib/systemd/user/mirelva.service /usr/lib/systemd/user/mirelva-headless.service \
  /usr/share/doc/mirelva/web-console.md /usr/share/doc/mirelva/changelog.gz /usr/share/doc/mirelva/README.md \
  /usr/share/mirelva/examples/nodelink.ini.example
holds mirelva-webview /usr/lib/mirelva/mirelva_webview.so
holds mirelva-node /usr/bin/mirelva-node /usr/share/man/man1/mirelva-node.1.gz
if [ -n "${deb[mirelva-svxlink]:-}" ]; then
  holds mirelva-svxlink /usr/bin/mirelva-svxlink /usr/share/man/man1/mirelva-svxlink.1.gz \
    /usr/lib/systemd/system/mirelva-svxlink.service
fi
if [ -n "${deb[mirelva-echolink]:-}" ]; then
  holds mirelva-echolink /usr/bin/mirelva-echolink /usr/share/man/man1/mirelva-echolink.1.gz \
    /usr/lib/systemd/system/mirelva-echolink.service
  check "mirelva holds the EchoLink node's guide" grep -qxF /usr/share/doc/mirelva/echolink.md "$work/files.mirelva"
fi
# Every package is for the machine the build was for (a cross build's too).
arch=$(sed -n 's/^set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
for p in "${!deb[@]}"; do
  check "$p is for ${arch:-no architecture}" test "$(dpkg-deb -f "${deb[$p]}" Architecture)" = "${arch:-none}"
done
check "no file is in two packages" bash -c "cat '$work'/files.* | grep -v '/\$' | sort | uniq -d | (! grep .)"
check "no test or benchmark program is packaged" bash -c "! cat '$work'/files.* | grep -E '/(test|bench)_'"
# Every packaged program has its manual page.
for b in "$work"/root/usr/bin/*; do
  check "manual page for $(basename "$b")" test -f "$work/root/usr/share/man/man1/$(basename "$b").1.gz"
done

field() { dpkg-deb -f "${deb[$1]}" "$2"; }
names() { # package, field, the packages it must name
  local p=$1 f=$2; shift 2
  local value; value=$(field "$p" "$f")
  for lib in "$@"; do check "$p $f names $lib" grep -q "\b$lib\b" <<<"$value"; done
}
names mirelva Depends libqt6widgets6 libqt6network6 libqt6websockets6 libespeak-ng1 libasound2 libc6 espeak-ng-data
names mirelva Recommends mirelva-webview
# A station with no screen installs the announcer and its node, and no web
# engine nor Qt 5 comes with them (the browser module is only recommended).
check "mirelva depends on no web engine, no Qt 5 and no node" \
  bash -c "! grep -Eq 'webengine|libqt5|echolib|mirelva-' <<<'$(field mirelva Depends)'"
names mirelva-webview Depends libqt6webenginewidgets6 libqt6webenginecore6-bin mirelva
names mirelva-node Depends libqt6widgets6 libespeak-ng1
check "mirelva-node depends on no web engine" bash -c "! grep -q webengine <<<'$(field mirelva-node Depends)'"
if [ -n "${deb[mirelva-echolink]:-}" ]; then
  names mirelva-echolink Depends libgsm1 libespeak-ng1
  # Its own EchoLink protocol: nothing of EchoLib's, and no widgets.
  check "mirelva-echolink depends on no EchoLib, libasync, Qt 5 nor widgets" \
    bash -c "! grep -Eq 'echolib|libasync|libqt5|libqt6widgets|libqt6gui' <<<'$(field mirelva-echolink Depends)'"
  check "mirelva-echolink depends on no web engine" bash -c "! grep -q webengine <<<'$(field mirelva-echolink Depends)'"
fi
if [ -n "${deb[mirelva-svxlink]:-}" ]; then
  names mirelva-svxlink Depends libqt6network6 libespeak-ng1
  # A headless bridge: the node link and SvxLink's lines, no window program.
  check "mirelva-svxlink depends on no Qt GUI, widgets, X nor web engine" \
    bash -c "! grep -Eq 'libqt6gui|libqt6widgets|libx11|libxcb|libgl1|libegl|libopengl|webengine' <<<'$(field mirelva-svxlink Depends)'"
fi

# The units key a transmitter or face the network: systemd's own rating of
# each must stay at the level reached (at most 2.0, "OK"; docs/node-units.md,
# docs/web-console.md). The desktop's mirelva.service cannot be confined so far.
if command -v systemd-analyze >/dev/null; then
  for unit in "$work"/root/usr/lib/systemd/system/*.service "$work"/root/usr/lib/systemd/user/mirelva-headless.service; do
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
  for p in "${!deb[@]}"; do
    lintian --allow-root "${deb[$p]}" >"$work/lintian.$p" 2>&1
    sed "s/^/$p: /" "$work/lintian.$p"
    check "lintian reports no errors in $p" bash -c "! grep -q '^E:' '$work/lintian.$p'"
  done
else
  echo "lintian is not installed: its check is skipped"
fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
