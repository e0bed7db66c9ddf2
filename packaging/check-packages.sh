#!/bin/sh
# Builds the Debian packages with CPack, unpacks them into a clean prefix,
# builds the C examples against the unpacked files (one with find_package,
# one with pkg-config), and runs them, the Python example and qz417ctl
# against the packaged emulator on loopback.
#
#   packaging/check-packages.sh [--build] [--dpkg-install] BUILD_DIR
#   packaging/check-packages.sh          (= --build build-packages, as CI runs it)
#
#   --build         configure (-DCMAKE_INSTALL_PREFIX=/usr) and build BUILD_DIR first;
#                   without it BUILD_DIR must already be built
#   --dpkg-install  install the packages with dpkg -i instead of unpacking them
#                   (needs root; they are removed again at the end)
#
# Needs root or CAP_NET_BIND_SERVICE, because the emulator listens on TCP port 417;
# without it the script says so and exits 77 (ctest reports the test as skipped;
# without arguments it exits 0 after saying so).
set -eu

BUILD_FIRST=0
DPKG_INSTALL=0
SKIP_STATUS=77
if [ $# -eq 0 ]; then
    set -- --build "$(cd "$(dirname "$0")/.." && pwd)/build-packages"
    SKIP_STATUS=0 # a skip is reported, but does not fail the CI step
fi
while [ $# -gt 1 ]; do
    case "$1" in
    --build) BUILD_FIRST=1 ;;
    --dpkg-install) DPKG_INSTALL=1 ;;
    *) echo "check-packages: unknown option $1" >&2; exit 2 ;;
    esac
    shift
done
[ $# -eq 1 ] || { echo "usage: check-packages.sh [--build] [--dpkg-install] BUILD_DIR" >&2; exit 2; }
SRC=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$1

WORK=$(mktemp -d /tmp/qz417-packages-XXXXXX)
SIM_PID=
INSTALLED=
cleanup() {
    if [ -n "$SIM_PID" ]; then
        kill "$SIM_PID" 2>/dev/null || true
        i=0
        while kill -0 "$SIM_PID" 2>/dev/null && [ $i -lt 50 ]; do sleep 0.1; i=$((i + 1)); done
        kill -9 "$SIM_PID" 2>/dev/null || true
    fi
    if [ -n "$INSTALLED" ]; then
        dpkg -P qz417setup qz417-tools libqz417link-dev libqz417link1 >/dev/null 2>&1 || true
    fi
    rm -rf "$WORK"
}
trap cleanup EXIT INT TERM

step() { echo "check-packages: $*"; }
fail() { echo "check-packages: FAILED: $*" >&2; exit 1; }

if [ $BUILD_FIRST -eq 1 ]; then
    step "building $BUILD"
    cmake -S "$SRC" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX=/usr -DQZ417_BUILD_TESTS=OFF >"$WORK/configure.log"
    cmake --build "$BUILD" >"$WORK/build.log" || { cat "$WORK/build.log"; fail "build"; }
fi

step "cpack -G DEB"
rm -f "$BUILD"/*.deb
(cd "$BUILD" && "${CPACK:-cpack}" -G DEB >"$WORK/cpack.log" 2>&1) || { cat "$WORK/cpack.log"; fail "cpack"; }
for pkg in libqz417link1 libqz417link-dev qz417-tools; do
    ls "$BUILD/${pkg}_"*.deb >/dev/null 2>&1 || fail "no package $pkg"
done

# Every package declares its dependencies and carries its copyright file.
for deb in "$BUILD"/*.deb; do
    name=$(dpkg-deb -f "$deb" Package)
    dpkg-deb -f "$deb" Depends | grep -q . || fail "$name declares no dependencies"
    contents=$(dpkg-deb -c "$deb")
    echo "$contents" | grep -q "usr/share/doc/$name/copyright" || fail "$name has no copyright file"
    step "$name $(dpkg-deb -f "$deb" Version): Depends: $(dpkg-deb -f "$deb" Depends)"
done
for pkg in libqz417link-dev qz417-tools qz417setup; do
    deb=$(ls "$BUILD/${pkg}_"*.deb 2>/dev/null || true)
    [ -z "$deb" ] || dpkg-deb -f "$deb" Depends | grep -q "libqz417link1 (=" ||
        fail "$pkg does not depend on libqz417link1"
done

ROOT=$WORK/root
if [ $DPKG_INSTALL -eq 1 ]; then
    step "dpkg -i"
    INSTALLED=1
    dpkg -i "$BUILD"/*.deb >"$WORK/dpkg.log" 2>&1 || { cat "$WORK/dpkg.log"; fail "dpkg -i"; }
    ROOT=
else
    step "unpacking into $ROOT"
    for deb in "$BUILD"/*.deb; do dpkg-deb -x "$deb" "$ROOT"; done
fi
LIB=$(find "$ROOT/usr/lib" -name 'libqz417link.so.1' | head -n 1)
[ -n "$LIB" ] || fail "libqz417link.so.1 not installed"
LIBDIR=$(dirname "$LIB")
export PATH="$ROOT/usr/bin:$PATH"
if [ -n "$ROOT" ]; then
    export LD_LIBRARY_PATH="$LIBDIR"
    export PKG_CONFIG_SYSROOT_DIR="$ROOT"
    export PKG_CONFIG_PATH="$LIBDIR/pkgconfig"
    unset PKG_CONFIG_LIBDIR || true
fi
if [ -e "$ROOT/usr/bin/qz417setup" ] && ldd "$ROOT/usr/bin/qz417setup" | grep -q "not found"; then
    ldd "$ROOT/usr/bin/qz417setup" | grep "not found"
    fail "qz417setup has unresolved libraries"
fi

step "building the C examples against the installed files"
cp -r "$ROOT/usr/share/doc/libqz417link-dev/examples" "$WORK/examples"
cmake -S "$WORK/examples/c" -B "$WORK/examples/c/build" -DCMAKE_PREFIX_PATH="$ROOT/usr" \
    >"$WORK/examples.log" 2>&1 || { cat "$WORK/examples.log"; fail "examples: cmake"; }
cmake --build "$WORK/examples/c/build" >>"$WORK/examples.log" 2>&1 ||
    { cat "$WORK/examples.log"; fail "examples: build"; }
make -C "$WORK/examples/c" >>"$WORK/examples.log" 2>&1 ||
    { cat "$WORK/examples.log"; fail "examples: make with pkg-config"; }
# They must use the installed library, not the build tree's.
loaded=$(ldd "$WORK/examples/c/build/search_scanners" | awk '/libqz417link/ {print $3}')
[ -n "$loaded" ] && [ "$(readlink -f "$loaded")" = "$(readlink -f "$LIB")" ] ||
    fail "search_scanners loads ${loaded:-no libqz417link}, not $LIB"

step "starting the packaged emulator"
start_sim() {
    qz417sim --count 2 >"$WORK/sim.log" 2>&1 &
    SIM_PID=$!
}
start_sim
i=0
tries=0
until qz417ctl angle 127.0.0.2 >/dev/null 2>&1; do
    i=$((i + 1))
    if ! kill -0 "$SIM_PID" 2>/dev/null; then
        SIM_PID=
        if grep -q "CAP_NET_BIND_SERVICE" "$WORK/sim.log"; then
            echo "check-packages: skipped: cannot bind TCP port 417 here ($(cat "$WORK/sim.log"))"
            exit $SKIP_STATUS
        fi
        # Another program may be releasing port 417: try again for a while.
        if grep -q "in use" "$WORK/sim.log" && [ $tries -lt 40 ]; then
            tries=$((tries + 1))
            sleep 0.5
            start_sim
            i=0
            continue
        fi
        cat "$WORK/sim.log"
        fail "qz417sim did not start"
    fi
    [ $i -lt 50 ] || fail "qz417sim does not answer on 127.0.0.2:417"
    sleep 0.1
done

step "running the examples"
cd "$WORK"
out=$("$WORK/examples/c/build/search_scanners" 1500) || fail "search_scanners"
echo "$out"
[ "$(echo "$out" | grep -c '^127\.0\.0\.[12] ')" -eq 2 ] || fail "search_scanners did not list both scanners"
out=$("$WORK/examples/c/build/poll_profiles" 127.0.0.1 3) || fail "poll_profiles (CMake)"
[ "$(echo "$out" | grep -c '^profile ')" -eq 3 ] || fail "poll_profiles printed: $out"
out=$("$WORK/examples/c/poll_profiles" 127.0.0.2 2) || fail "poll_profiles (make)"
[ "$(echo "$out" | grep -c '^profile ')" -eq 2 ] || fail "poll_profiles printed: $out"
if "$WORK/examples/c/build/poll_profiles" 127.0.0.9 1 2>/dev/null; then
    fail "poll_profiles succeeded without a scanner"
fi
python3 "$WORK/examples/python/scan_example.py" --time 1500 --output "$WORK/profile.csv" ||
    fail "scan_example.py"
[ "$(head -n 1 "$WORK/profile.csv")" = "point,x_mm,z_mm" ] || fail "profile.csv has no header"
[ "$(wc -l <"$WORK/profile.csv")" -gt 10 ] || fail "profile.csv holds too few points"

step "running the packaged qz417ctl"
qz417ctl search --time 1000 | grep -q '^127\.0\.0\.2 ' || fail "qz417ctl search"
qz417ctl params save 127.0.0.1 "$WORK/block.json" || fail "qz417ctl params save"
qz417ctl params load 127.0.0.2 "$WORK/block.json" || fail "qz417ctl params load"
qz417ctl profile 127.0.0.1 --search 0 --format csv | grep -q '^profile,point' || fail "qz417ctl profile"
qz417ctl image 127.0.0.1 -o "$WORK/camera.png" || fail "qz417ctl image"

echo "check-packages: all checks passed"
