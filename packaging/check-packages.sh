#!/bin/sh
# Builds the Debian packages from debian/ (dpkg-buildpackage -b in a copy of
# the source tree), runs lintian on them (any error fails), checks their
# contents, unpacks them into a clean prefix (or installs them), builds the C
# examples against the unpacked files (one with find_package, one with
# pkg-config), and runs them, the Python example and qz417ctl against the
# packaged emulator on loopback.
#
#   packaging/check-packages.sh [--no-build] [--dpkg-install] [OUT_DIR]
#
#   OUT_DIR         where the packages (.deb, .changes, .buildinfo) and the
#                   build log go; default build-packages/ in the source tree.
#                   The copy of the tree is built in OUT_DIR/src/.
#   --no-build      check the packages already in OUT_DIR
#   --dpkg-install  install the packages with dpkg -i instead of unpacking them
#                   (needs root; they are purged again at the end)
#
# The package build is a full optimised build of everything (several minutes
# on two cores); it uses ccache when ccache is installed.
# Running the emulator needs root or CAP_NET_BIND_SERVICE, because it listens on
# TCP port 417; without it the script says so and exits 77 (ctest reports the
# test as skipped; without OUT_DIR it exits 0 after saying so).
set -eu

BUILD_FIRST=1
DPKG_INSTALL=0
SRC=$(cd "$(dirname "$0")/.." && pwd)
OUT=$SRC/build-packages
SKIP_STATUS=0 # a skip is reported, but does not fail the CI step
while [ $# -gt 0 ]; do
    case "$1" in
    --no-build) BUILD_FIRST=0 ;;
    --dpkg-install) DPKG_INSTALL=1 ;;
    -*) echo "check-packages: unknown option $1" >&2; exit 2 ;;
    *)
        [ $# -eq 1 ] || { echo "usage: check-packages.sh [--no-build] [--dpkg-install] [OUT_DIR]" >&2; exit 2; }
        mkdir -p "$1"
        OUT=$(cd "$1" && pwd)
        SKIP_STATUS=77
        ;;
    esac
    shift
done
PACKAGES="libqz417link1 libqz417link-dev qz417-tools qz417setup python3-qz417link"

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
        dpkg -P python3-qz417link qz417setup qz417-tools libqz417link-dev libqz417link1 >/dev/null 2>&1 || true
    fi
    rm -rf "$WORK"
}
trap cleanup EXIT INT TERM

step() { echo "check-packages: $*"; }
fail() { echo "check-packages: FAILED: $*" >&2; exit 1; }

if [ $BUILD_FIRST -eq 1 ]; then
    # A copy of the tree (files git knows of and new ones it does not ignore;
    # without git everything but build directories), so that the package build
    # leaves the working tree as it was. The copy's path stays the same from
    # run to run, which lets ccache reuse earlier compilations.
    COPY=$OUT/src/qz417
    step "copying the source tree to $COPY"
    rm -rf "$OUT/src" "$OUT"/*.deb "$OUT"/*.changes "$OUT"/*.buildinfo
    mkdir -p "$COPY"
    if git -C "$SRC" rev-parse --git-dir >/dev/null 2>&1; then
        git -C "$SRC" ls-files -z --cached --others --exclude-standard |
            tar -C "$SRC" --null --ignore-failed-read -T - -cf - 2>/dev/null | tar -C "$COPY" -xf -
    else
        tar -C "$SRC" --exclude='./build*' --exclude='./.git' -cf - . | tar -C "$COPY" -xf -
    fi
    if command -v ccache >/dev/null 2>&1 && [ -d /usr/lib/ccache ]; then
        export PATH="/usr/lib/ccache:$PATH"
    fi
    step "dpkg-buildpackage -b (log: $OUT/build.log)"
    (cd "$COPY" && DEB_BUILD_OPTIONS="nocheck ${DEB_BUILD_OPTIONS:-}" \
        dpkg-buildpackage -b -us -uc) >"$OUT/build.log" 2>&1 ||
        { tail -n 60 "$OUT/build.log"; fail "dpkg-buildpackage"; }
    mv "$OUT"/src/*.deb "$OUT"/src/*.changes "$OUT"/src/*.buildinfo "$OUT"/
fi
for pkg in $PACKAGES; do
    ls "$OUT/${pkg}_"*.deb >/dev/null 2>&1 || fail "no package $pkg in $OUT"
done

step "lintian"
CHANGES=$(ls "$OUT"/*.changes 2>/dev/null | head -n 1)
[ -n "$CHANGES" ] || fail "no .changes file in $OUT"
if lintian --fail-on error --display-info "$CHANGES" >"$OUT/lintian.log" 2>&1; then
    status=0
else
    status=$?
fi
cat "$OUT/lintian.log"
step "lintian: $(grep -c '^E:' "$OUT/lintian.log" || true) errors, $(grep -c '^W:' "$OUT/lintian.log" || true) warnings, $(grep -c '^I:' "$OUT/lintian.log" || true) notes (log: $OUT/lintian.log)"
[ $status -eq 0 ] || fail "lintian reports errors"

DEBS=
for deb in "$OUT"/*.deb; do
    case "$deb" in *-dbgsym_*) continue ;; esac
    DEBS="$DEBS $deb"
done

# Every package declares its dependencies and carries its copyright file and
# Debian changelog; programs and the library are stripped, their debug
# symbols are in the -dbgsym packages.
for deb in $DEBS; do
    name=$(dpkg-deb -f "$deb" Package)
    dpkg-deb -f "$deb" Depends | grep -q . || fail "$name declares no dependencies"
    contents=$(dpkg-deb -c "$deb")
    for file in copyright changelog.Debian.gz; do
        echo "$contents" | grep -q "usr/share/doc/$name/$file\$" || fail "$name has no $file"
    done
    mkdir -p "$WORK/contents"
    dpkg-deb -x "$deb" "$WORK/contents/$name"
    unstripped=$(find "$WORK/contents/$name" -type f \( -name '*.so*' -o -path '*/bin/*' \) \
        -exec file {} + | grep -v 'ELF.*, stripped' || true)
    [ -z "$unstripped" ] || fail "$name: not stripped: $unstripped"
    step "$name $(dpkg-deb -f "$deb" Version): Depends: $(dpkg-deb -f "$deb" Depends)"
done
dpkg-deb -f "$OUT"/libqz417link-dev_*.deb Depends | grep -q "libqz417link1 (= " ||
    fail "libqz417link-dev does not depend on its version of libqz417link1"
for pkg in qz417-tools qz417setup python3-qz417link; do
    dpkg-deb -f "$OUT/${pkg}_"*.deb Depends | grep -q "libqz417link1 (>= " ||
        fail "$pkg does not depend on libqz417link1"
done
C=$WORK/contents
dpkg-deb -e "$OUT"/libqz417link1_*.deb "$WORK/control"
[ -f "$WORK/control/shlibs" ] || fail "libqz417link1 has no shlibs file"
[ -f "$WORK/control/symbols" ] || fail "libqz417link1 has no symbols file"
grep -q "activate-noawait ldconfig" "$WORK/control/triggers" 2>/dev/null ||
    fail "libqz417link1 has no ldconfig trigger"
for page in qz417-tools/usr/share/man/man1/qz417ctl.1.gz qz417-tools/usr/share/man/man1/qz417sim.1.gz \
    qz417setup/usr/share/man/man1/qz417setup.1.gz \
    qz417-tools/usr/share/bash-completion/completions/qz417ctl \
    qz417-tools/usr/share/bash-completion/completions/qz417sim; do
    [ -s "$C/$page" ] || fail "no $page"
done
# The completions load, and (where bash-completion is installed) complete.
COMPLETIONS=$C/qz417-tools/usr/share/bash-completion/completions
complete_line() { # PROGRAM WORDS...: the completions of the last word
    bash -c '. /usr/share/bash-completion/bash_completion && . "$0" || exit 1
        program=$1; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"
        COMP_POINT=${#COMP_LINE}; "_$program" "$program" "${COMP_WORDS[-1]}" "${COMP_WORDS[-2]}"
        echo "${COMPREPLY[*]}"' "$COMPLETIONS/$1" "$@"
}
for program in qz417ctl qz417sim; do
    bash -c '. "$0" && complete -p "$1"' "$COMPLETIONS/$program" "$program" >/dev/null ||
        fail "the bash completion of $program does not load"
done
if [ -f /usr/share/bash-completion/bash_completion ]; then
    [ "$(complete_line qz417ctl params s)" = "set store save" ] ||
        fail "qz417ctl params s completes to: $(complete_line qz417ctl params s)"
    [ "$(complete_line qz417ctl profile 127.0.0.1 --format c)" = "csv" ] ||
        fail "qz417ctl --format c completes to: $(complete_line qz417ctl profile 127.0.0.1 --format c)"
    [ "$(complete_line qz417sim --cou)" = "--count" ] ||
        fail "qz417sim --cou completes to: $(complete_line qz417sim --cou)"
fi

ROOT=$WORK/root
if [ $DPKG_INSTALL -eq 1 ]; then
    step "dpkg -i"
    INSTALLED=1
    # shellcheck disable=SC2086
    dpkg -i $DEBS >"$WORK/dpkg.log" 2>&1 || { cat "$WORK/dpkg.log"; fail "dpkg -i"; }
    ROOT=
else
    step "unpacking into $ROOT"
    for deb in $DEBS; do dpkg-deb -x "$deb" "$ROOT"; done
fi
LIB=$(find "$ROOT/usr/lib" -name 'libqz417link.so.1' | head -n 1)
[ -n "$LIB" ] || fail "libqz417link.so.1 not installed"
LIBDIR=$(dirname "$LIB")
export PATH="$ROOT/usr/bin:$PATH"
if [ -n "$ROOT" ]; then
    # qz417link.pc finds its prefix from its own place: no sysroot needed.
    export LD_LIBRARY_PATH="$LIBDIR"
    export PKG_CONFIG_PATH="$LIBDIR/pkgconfig"
    export PYTHONPATH="$ROOT/usr/lib/python3/dist-packages"
    unset PKG_CONFIG_SYSROOT_DIR PKG_CONFIG_LIBDIR || true
fi
if [ -e "$ROOT/usr/bin/qz417setup" ] && ldd "$ROOT/usr/bin/qz417setup" | grep -q "not found"; then
    ldd "$ROOT/usr/bin/qz417setup" | grep "not found"
    fail "qz417setup has unresolved libraries"
fi
[ "$(qz417setup --version 2>&1)" = "qz417setup $(dpkg-deb -f "$OUT"/qz417setup_*.deb Version | sed 's/-[^-]*$//')" ] ||
    fail "qz417setup --version: $(qz417setup --version 2>&1)"

step "measuring a profile with the packaged Python module"
python3 -c '
import numpy as np, qz417link
job = qz417link.Job.parse("{\"format\": \"qz417-measure-job\", \"version\": 1, \"tools\": [{\"name\": \"s\", \"tool\": \"step\", \"regions\": [{\"x\": [-9, -1]}, {\"x\": [1, 9]}]}]}")
x = np.linspace(-10, 10, 101)
step = job.measure(x, np.where(x > 0, 2.0, 0.0))["s"].values["step"]
assert abs(step - 2.0) < 1e-9, step
' || fail "the packaged module cannot measure (libqz417model_c.so)"

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
/usr/bin/python3 "$WORK/examples/python/scan_example.py" --time 1500 --output "$WORK/profile.csv" ||
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
