#!/usr/bin/env bash
# The bundle built around an engine given with ENGINE_LIBRARY: it carries
# that very file and targets it; a file that is no shared library stops the
# configure with its message.
# Usage: check_engine_library.sh SOURCE_FOLDER ENGINE WORK_FOLDER [CMAKE ARGUMENTS...]
# (those of the build that made ENGINE, such as its sanitizers)
set -u
source=$1 engine=$2 work=$3
shift 3
failures=0
# Shown in plain ASCII: what went wrong may hold any bytes.
fail() { echo "FAIL: $*" | LC_ALL=C cat -v; failures=$((failures + 1)); }
rm -rf "$work"
mkdir -p "$work/home"

kind="an x86-64 ELF shared library"
user_folder="$work/home/config/Demo Company/Demo Game"
if [ "$(uname)" = Darwin ]; then
    kind="an x86-64 Mach-O shared library (a .dylib)"
    user_folder="$work/home/Library/Application Support/Demo Company/Demo Game"
    # As an engine is shipped: signed, a signature the bundle keeps.
    cp "$engine" "$work/UnityPlayer.dylib"
    engine=$work/UnityPlayer.dylib
    codesign --force --sign - "$engine" || fail "the given engine could not be signed"
fi

echo "not a library" > "$work/notes.txt"
if cmake -S "$source" -B "$work/refused" -DENGINE_LIBRARY="$work/notes.txt" > "$work/refused.log" 2>&1; then
    fail "a text file was taken for the engine"
fi
# CMake folds the message over lines.
tr -s ' \n' '  ' < "$work/refused.log" | grep -qF "ENGINE_LIBRARY=$work/notes.txt: this is not $kind" ||
    fail "the refusal does not say why: $(grep -A3 'CMake Error' "$work/refused.log")"

if ! { cmake -S "$source" -B "$work/shipped" -DENGINE_LIBRARY="$engine" "$@" &&
       cmake --build "$work/shipped" --target Game -j 2; } > "$work/shipped.log" 2>&1; then
    tail -30 "$work/shipped.log"
    fail "the bundle was not built around $engine"
else
    bundled=$work/shipped/Game.app/Contents/Frameworks/UnityPlayer.dylib
    cmp -s "$engine" "$bundled" || fail "the bundled engine is not the given file, unchanged"
    # The launcher calls the engine's routines only in the build it targets:
    # they are handed the bundle's folders.
    mkdir -p "$user_folder"
    echo "up=w" > "$user_folder/controls.ini"
    env -u DISPLAY HOME="$work/home" XDG_CONFIG_HOME="$work/home/config" STANDIN_ENGINE_FOLDERS="$work/folders" \
        "$work/shipped/Game.app/Contents/MacOS/Game" > "$work/run.log" 2>&1
    status=$?
    [ "$status" = 0 ] || fail "a start ended with $status, not 0: $(cat "$work/run.log")"
    [ -s "$work/folders" ] || fail "the given engine's routines were not called"
fi

[ "$failures" -eq 0 ] && echo "engine library checks passed"
exit $((failures > 0))
