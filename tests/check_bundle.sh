#!/usr/bin/env bash
# Checks how the demo bundle is put together: its Info.plist, what the
# executable links, where the engine's internal routines sit, and how the
# engine is found. Reads ELF on Linux and Mach-O on macOS.
set -u
bundle=$1
game=$bundle/Contents/MacOS/Game
engine=$bundle/Contents/Frameworks/UnityPlayer.dylib
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

[ -x "$game" ] || fail "no executable at $game"
[ -f "$engine" ] || fail "no engine library at $engine"
[ -f "$bundle/Contents/Resources/Data/app.info" ] || fail "no app.info in the data folder"

python3 - "$bundle/Contents/Info.plist" <<'PYTHON' || fail "Info.plist does not describe the application"
import plistlib, sys
info = plistlib.load(open(sys.argv[1], "rb"))
expected = {"CFBundleExecutable": "Game", "CFBundlePackageType": "APPL", "NSHighResolutionCapable": True}
for key, value in expected.items():
    if info.get(key) != value:
        sys.exit(f"{key} is {info.get(key)!r}")
for key in ("CFBundleIdentifier", "CFBundleName", "CFBundleVersion", "LSMinimumSystemVersion"):
    if not info.get(key):
        sys.exit(f"{key} is missing")
PYTHON

# The internal routines at the offsets the launcher targets, not exported.
if [ "$(uname)" = Darwin ]; then
    symbols=$(nm -m "$engine")
    exported=$(nm -gU "$engine")
else
    symbols=$(nm "$engine")
    exported=$(nm -D --defined-only "$engine")
fi
for entry in enginePrepare:73fd90 engineSetDataFolders:73f290 engineUserDataFolder:5bbaf0; do
    name=${entry%%:*} offset=${entry##*:}
    grep -qE "^0*$offset .* _?$name\$" <<<"$symbols" || fail "$name is not at offset 0x$offset"
    grep -qE "[ _]$name\$" <<<"$exported" && fail "$name is exported by name"
done
grep -qE " T _?PlayerMain$" <<<"$exported" || fail "PlayerMain is not exported"

if [ "$(uname)" = Darwin ]; then
    # Only system libraries and the engine, found through the rpath.
    while read -r name _; do
        case "$name" in
            /usr/lib/*|/System/Library/Frameworks/*) ;;
            @rpath/UnityPlayer.dylib) ;;
            *) fail "unexpected library: $name" ;;
        esac
    done < <(otool -L "$game" | tail -n +2)
    otool -l "$game" | grep -A2 LC_RPATH | grep -q "path @executable_path/../Frameworks " \
        || fail "rpath is not @executable_path/../Frameworks"
    otool -hv "$game" | grep -q PIE || fail "the executable is not position-independent"
    otool -hv "$game" | grep -q X86_64 || fail "the executable is not x86-64"
    codesign --verify "$bundle" || fail "the bundle's signature does not verify"
else
    # Only system libraries and the engine: FLTK is linked in statically.
    while read -r name _; do
        case "$name" in
            linux-vdso.so.*|/lib64/ld-linux-*|libc.so.*|libm.so.*|libstdc++.so.*|libgcc_s.so.*|libdl.so.*|libpthread.so.*) ;;
            libX*.so.*|libxcb*.so.*|libfontconfig.so.*|libfreetype.so.*|libexpat.so.*|libz.so.*|libpng16.so.*|libbrotli*.so.*|libbsd.so.*|libmd.so.*|libuuid.so.*) ;;
            libasan.so.*|libubsan.so.*) ;;
            UnityPlayer.dylib) ;;
            *) fail "unexpected library: $name" ;;
        esac
    done < <(ldd "$game")
    ldd "$game" | grep -q "UnityPlayer.dylib => $bundle/Contents/MacOS/../Frameworks/UnityPlayer.dylib" \
        || fail "the engine is not found relative to the executable"
    readelf -d "$game" | grep -qE 'R(UN)?PATH.*\[\$ORIGIN/\.\./Frameworks\]' || fail "rpath is not \$ORIGIN/../Frameworks"
    readelf -h "$game" | grep -qE 'Type:[[:space:]]+DYN' || fail "the executable is not position-independent"
    # Sparse on Linux: the offsets should not bloat the library.
    size=$(wc -c < "$engine")
    [ "$size" -lt 4000000 ] || fail "the engine library is $size bytes; the offsets should not bloat it"
fi

if [ "$failures" -eq 0 ]; then
    echo "bundle checks passed"
fi
exit $((failures > 0))
