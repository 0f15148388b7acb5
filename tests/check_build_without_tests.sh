#!/usr/bin/env bash
# The bundle as someone who only wants the bundle builds it: configured with
# -DBUILD_TESTING=OFF where none of the test tools can be found (hidden in a
# private mount namespace), built, and started once; with testing on, the
# same configure stops with one message naming the missing tool.
# Usage: check_build_without_tests.sh SOURCE BUILD_DIR
set -u
source=$(cd "$1" && pwd)
build=$2
if [ "$(id -u)" -ne 0 ] || ! unshare -m true 2>/dev/null; then
    echo "needs root and a private mount namespace to hide the test tools"
    exit 77
fi
rm -rf "$build"
mkdir -p "$build"

exec unshare -m bash -s "$source" "$build" <<'INSIDE'
set -u
source=$1 build=$2
# Shown in plain ASCII: what went wrong may hold any bytes.
fail() { echo "FAIL: $*" | LC_ALL=C cat -v; exit 1; }
mount --make-rprivate /
empty=$(mktemp -d)
# Folders over which an empty one is laid, files over which /dev/null is.
for folder in /usr/lib/llvm-* /usr/include/gtest /usr/include/gmock /usr/src/googletest \
              /usr/lib/*-linux-gnu/cmake/GTest /usr/include/libpng* "$source/.tools"; do
    [ -d "$folder" ] && mount --bind "$empty" "$folder"
done
for file in /usr/lib/*-linux-gnu/libgtest*.a /usr/lib/*-linux-gnu/libgmock*.a "$(command -v Xvfb)" \
            "$(command -v xdotool)"; do
    [ -f "$file" ] && mount --bind /dev/null "$file"
done
for tool in clang clang++ clang++-19 ld64.lld ld64.lld-19 llvm-nm-19 llvm-objdump-19 zig Xvfb xdotool; do
    [ -x "$(command -v "$tool")" ] && fail "$tool is still there"
done
[ -e /usr/include/gtest/gtest.h ] && fail "GoogleTest is still there"
[ -e /usr/include/png.h ] && fail "libpng's header is still there"

cmake -S "$source" -B "$build/with-tests" > "$build/with-tests.log" 2>&1 && fail "configured with the test tools missing"
[ "$(grep -c 'scripts/install-deps' "$build/with-tests.log")" -eq 1 ] ||
    { cat "$build/with-tests.log"; fail "no one message about the missing tool"; }

cmake -S "$source" -B "$build/bundle" -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=Debug > "$build/bundle.log" 2>&1 ||
    { tail -20 "$build/bundle.log"; fail "configuring the bundle alone failed"; }
cmake --build "$build/bundle" -j "$(getconf _NPROCESSORS_ONLN)" >> "$build/bundle.log" 2>&1 ||
    { tail -20 "$build/bundle.log"; fail "building the bundle alone failed"; }

home=$(mktemp -d)
mkdir -p "$home/config/Demo Company/Demo Game"
echo "up=w" > "$home/config/Demo Company/Demo Game/controls.ini"
game=$build/bundle/Game.app/Contents/MacOS/Game
env -u DISPLAY HOME="$home" XDG_CONFIG_HOME="$home/config" STANDIN_ENGINE_RECORD="$home/record" "$game" > /dev/null ||
    fail "the bundle did not start the game"
[ "$(tr '\0' ' ' < "$home/record")" = "$game -game  " ] || fail "the engine was handed $(tr '\0' ' ' < "$home/record")"
rm -rf "$home"
echo "the bundle builds and starts without the test tools"
INSIDE
