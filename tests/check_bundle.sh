#!/usr/bin/env bash
# Checks how the demo bundle is put together: what the executable links,
# where the engine's internal routines sit, and how the engine is found.
set -u
bundle=$1
game=$bundle/Contents/MacOS/Game
engine=$bundle/Contents/Frameworks/UnityPlayer.dylib
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

[ -x "$game" ] || fail "no executable at $game"
[ -f "$engine" ] || fail "no engine library at $engine"
[ -f "$bundle/Contents/Resources/Data/app.info" ] || fail "no app.info in the data folder"

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

# The internal routines at the offsets the launcher targets, not exported.
for entry in enginePrepare:73fd90 engineSetDataFolders:73f290 engineUserDataFolder:5bbaf0; do
    name=${entry%%:*} offset=${entry##*:}
    nm "$engine" | grep -qE "^0*$offset [tT] $name\$" || fail "$name is not at offset 0x$offset"
    nm -D --defined-only "$engine" | grep -qw "$name" && fail "$name is exported by name"
done
nm -D --defined-only "$engine" | grep -qE ' T PlayerMain$' || fail "PlayerMain is not exported"
size=$(stat -c %s "$engine")
[ "$size" -lt 4000000 ] || fail "the engine library is $size bytes; the offsets should not bloat it"

if [ "$failures" -eq 0 ]; then
    echo "bundle checks passed"
fi
exit $((failures > 0))
