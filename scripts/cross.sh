#!/usr/bin/env bash
# Builds Mirelva for the boards stations run on, with Debian 12's cross
# compilers and the target's own Debian packages:
#   bash scripts/cross.sh arm64|armhf            the five .deb files, in build-ARCH/
#   bash scripts/cross.sh arm64|armhf tests      the node's tests, under qemu-user
# armhf is Debian's ARMv7 (Raspberry Pi 2 and later on a 32-bit system; not
# the Pi 1, Zero or Zero W).
#
# The target's packages are unpacked into a folder of their own (a sysroot,
# kept in ~/.cache/mirelva/cross/ARCH between runs) with an apt of their own:
# nothing is installed, upgraded or removed on this machine for the target.
# Host tools (the cross compilers, qemu-user) come from scripts/install-deps.sh.
set -euo pipefail
arch=${1:-}
what=${2:-packages}
case "$arch" in
  arm64) triplet=aarch64-linux-gnu; qemu=qemu-aarch64; cpu=aarch64; flags= ;;
  # GCC notes on armhf that an ABI changed in GCC 7 and 9: that concerns
  # code built by older compilers, and everything here is built by one.
  armhf) triplet=arm-linux-gnueabihf; qemu=qemu-arm; cpu=armv7; flags=" -Wno-psabi" ;;
  *) echo "usage: scripts/cross.sh arm64|armhf [packages|tests]" >&2; exit 2 ;;
esac
case "$what" in packages|tests) ;; *) echo "usage: scripts/cross.sh arm64|armhf [packages|tests]" >&2; exit 2 ;; esac
cd "$(dirname "$0")/.."
src=$PWD
[ "${MIRELVA_DEPS_DONE:-}" = 1 ] || bash scripts/install-deps.sh

# What the tree builds against, for the target: the same -dev packages the
# host build uses, and the speech data the tests speak with.
target_packages=(
  qt6-base-dev qt6-websockets-dev qt6-webengine-dev libgl-dev
  libespeak-ng-dev espeak-ng-data libasound2-dev
  libgsm1-dev libspandsp-dev libgpiod-dev
)
mirror=${MIRELVA_DEBIAN_MIRROR:-http://deb.debian.org/debian}
security=${MIRELVA_DEBIAN_SECURITY:-http://deb.debian.org/debian-security}
cache=${XDG_CACHE_HOME:-$HOME/.cache}/mirelva/cross/$arch
sysroot=$cache/sysroot
stamp="$arch ${target_packages[*]} $mirror $security v2"

make_sysroot() {
  local apt=$cache/apt
  rm -rf "$cache"
  mkdir -p "$apt/state/lists/partial" "$apt/cache/archives/partial" "$apt/parts" "$sysroot"
  : >"$apt/state/status"
  local keys=/usr/share/keyrings/debian-archive-keyring.gpg
  cat >"$apt/sources.list" <<LIST
deb [arch=$arch signed-by=$keys] $mirror bookworm main
deb [arch=$arch signed-by=$keys] $mirror bookworm-updates main
deb [arch=$arch signed-by=$keys] $security bookworm-security main
LIST
  # An apt that knows only the target's architecture, its own lists and an
  # empty package database: it resolves the whole closure and downloads it.
  local opts=(-o "Dir::State=$apt/state" -o "Dir::State::status=$apt/state/status"
              -o "Dir::Cache=$apt/cache" -o "Dir::Etc::SourceList=$apt/sources.list"
              -o "Dir::Etc::SourceParts=$apt/parts" -o "APT::Architecture=$arch"
              -o "APT::Architectures::=$arch" -o "Debug::NoLocking=1" -o "APT::Sandbox::User=root")
  apt-get "${opts[@]}" -qq update
  apt-get "${opts[@]}" -qq -y --no-install-recommends --download-only install "${target_packages[@]}" >/dev/null
  # Usr-merged as a Debian 12 system is: /lib is /usr/lib, so the loader and
  # libc's linker scripts name paths that exist.
  mkdir -p "$sysroot/usr/lib" "$sysroot/usr/bin" "$sysroot/usr/sbin"
  ln -s usr/lib "$sysroot/lib"; ln -s usr/bin "$sysroot/bin"; ln -s usr/sbin "$sysroot/sbin"
  # dpkg-shlibdeps finds which package holds a library, and its symbols, in
  # a package database: this one lists the sysroot's files where they are.
  local admin=$cache/dpkg
  mkdir -p "$admin/info" "$admin/updates"
  echo 1 >"$admin/info/format"   # info files named pkg:arch, as dpkg does now
  : >"$admin/status"
  local deb pkg ctl
  ctl=$(mktemp -d)
  for deb in "$apt"/cache/archives/*.deb; do
    dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$sysroot" --keep-directory-symlink
    pkg=$(dpkg-deb -f "$deb" Package)
    rm -rf "$ctl"/*
    dpkg-deb -e "$deb" "$ctl"
    [ "$(dpkg-deb -f "$deb" Multi-Arch)" = same ] && pkg="$pkg:$arch"
    dpkg-deb -c "$deb" | awk '{print $6}' | sed "s|^\./|$sysroot/|; s|/\$||" | grep -v "^$sysroot\$" >"$admin/info/$pkg.list"
    for f in symbols shlibs; do [ -f "$ctl/$f" ] && cp "$ctl/$f" "$admin/info/$pkg.$f"; done
    { dpkg-deb -f "$deb" Package Version Architecture Multi-Arch Source Maintainer Depends Pre-Depends Provides \
        Description
      echo "Status: install ok installed"; echo; } >>"$admin/status"
  done
  rm -rf "$ctl"
  # Absolute links point into the sysroot, not at this machine's files.
  find "$sysroot" -type l -lname '/*' | while read -r link; do
    ln -sfn "$sysroot$(readlink "$link")" "$link"
  done
  rm -rf "$apt/cache/archives"
  echo "$stamp" >"$cache/stamp"
}

if [ "$(cat "$cache/stamp" 2>/dev/null)" != "$stamp" ]; then
  echo "cross.sh: unpacking $arch's packages into $sysroot"
  make_sysroot
fi

# Qt's code generators (moc, rcc) run here: the host's Qt 6, of the same
# version as the target's.
host_multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
build=$src/build-$arch
mkdir -p "$build"
cat >"$build/toolchain.cmake" <<TOOLCHAIN
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR $cpu)
set(CMAKE_C_COMPILER $triplet-gcc)
set(CMAKE_CXX_COMPILER $triplet-g++)
set(CMAKE_SYSROOT $sysroot)
set(CMAKE_LIBRARY_ARCHITECTURE $triplet)
set(CMAKE_FIND_ROOT_PATH $sysroot)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,-rpath-link,$sysroot/usr/lib/$triplet")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-Wl,-rpath-link,$sysroot/usr/lib/$triplet")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-Wl,-rpath-link,$sysroot/usr/lib/$triplet")
set(QT_HOST_PATH /usr)
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/$host_multiarch/cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR $qemu;-L;$sysroot)
set(ENV{PKG_CONFIG_SYSROOT_DIR} $sysroot)
set(ENV{PKG_CONFIG_LIBDIR} $sysroot/usr/lib/$triplet/pkgconfig:$sysroot/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
TOOLCHAIN

# A release build as scripts/package.sh makes, with the tests' sources
# configured too (only the node's are built); -Wcast-align=strict because a
# cast that drops alignment faults or is slow on 32-bit ARM.
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$src" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$build/toolchain.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
    -DCMAKE_CXX_FLAGS="-D_FORTIFY_SOURCE=2 -fstack-protector-strong -Wcast-align=strict$flags" \
    -DCMAKE_EXE_LINKER_FLAGS="-Wl,-z,relro,-z,now" >"$build/configure.log" \
    || { cat "$build/configure.log"; exit 1; }
fi
jobs=${MIRELVA_CROSS_JOBS:-$(nproc)}
# What the node's tests are: those that run under qemu-user (no QProcess
# there: qemu 7.2 refuses the clone flags Qt 6.4 starts programs with), and
# those that start the ARM node from the native test program.
qemu_tests=(test_echolink_protocol test_echolink_audio test_echolink_flood test_echolink_keying
            test_radio_lines test_radio_audio test_nodeprotocol test_program_options)
native_tests=(test_echolink_settings test_echolink_safety test_echolink_node)

if [ "$what" = packages ]; then
  nice cmake --build "$build" -j "$jobs" --target mirelva mirelva-node mirelva-svxlink mirelva-echolink \
    mirelva_webview manpages changelog
  # dpkg-shlibdeps reads the target's libraries, and which package holds
  # each, from the sysroot's package database.
  shim=$build/shlibdeps
  mkdir -p "$shim"
  cat >"$shim/dpkg-shlibdeps" <<SHIM
#!/bin/sh
exec /usr/bin/dpkg-shlibdeps --admindir="$cache/dpkg" -S"$sysroot" "\$@"
SHIM
  chmod +x "$shim/dpkg-shlibdeps"
  rm -f "$build"/*.deb
  PATH=$shim:$PATH DEB_HOST_ARCH=$arch DEB_HOST_MULTIARCH=$triplet DEB_HOST_GNU_TYPE=$triplet \
    MIRELVA_DEB_DIR=$build bash tests/package_check.sh "$build"
  for deb in "$build"/*.deb; do
    echo "$(basename "$deb"): $(dpkg-deb -f "$deb" Architecture); Depends: $(dpkg-deb -f "$deb" Depends)"
  done
  exit 0
fi

nice cmake --build "$build" -j "$jobs" --target mirelva-echolink "${qemu_tests[@]}"
export QT_PLUGIN_PATH=$sysroot/usr/lib/$triplet/qt6/plugins
regex=$(IFS='|'; echo "^(${qemu_tests[*]})\$")
# EchoLink's UDP ports are fixed: other checkouts' tests on this machine
# take turns on them through one lock.
lock=/tmp/mirelva-echolink-ports.lock
QT_QPA_PLATFORM=offscreen flock "$lock" ctest --test-dir "$build" --output-on-failure -R "$regex"

# The native test programs drive the ARM node through a wrapper in a folder
# that stands for the build folder: the native window program beside it.
native=${MIRELVA_NATIVE_BUILD:-$src/build}
wrap=$build/wrapped
mkdir -p "$wrap/tests"
cat >"$wrap/mirelva-echolink" <<WRAP
#!/bin/sh
exec $qemu -L "$sysroot" "$build/mirelva-echolink" "\$@"
WRAP
chmod +x "$wrap/mirelva-echolink"
ln -sfn "$native/mirelva" "$wrap/mirelva"
ln -sfn "$native/mirelva-node" "$wrap/mirelva-node"
# Run as programs, not through ctest, whose test properties name the native
# build folder; each prints its totals.
failed=0
for t in "${native_tests[@]}"; do
  echo "=== $t with the $arch node"
  start=$(date +%s)
  MIRELVA_BIN_DIR=$wrap QT_QPA_PLATFORM=offscreen LC_TIME=C.UTF-8 MIRELVA_SOURCE_DIR=$src \
    flock "$lock" "$native/tests/$t" || failed=$((failed + 1))
  echo "$t: $(( $(date +%s) - start )) s"
done
[ "$failed" -eq 0 ]
