#!/usr/bin/env bash
# Checks how the demo bundle is put together: its Info.plist, what the
# executable links, where the engine's internal routines sit, and how the
# engine is found. Reads ELF, and Mach-O: on macOS with Apple's tools, on
# Linux (a cross-built bundle) with LLVM's.
# Usage: check_bundle.sh BUNDLE ROUTINE=OFFSET... (ENGINE_ROUTINES, hexadecimal)
set -u
bundle=$1
shift
routines=("$@")
game=$bundle/Contents/MacOS/Game
engine=$bundle/Contents/Frameworks/UnityPlayer.dylib
failures=0
# Shown in plain ASCII: what went wrong may hold any bytes.
fail() { echo "FAIL: $*" | LC_ALL=C cat -v; failures=$((failures + 1)); }

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

macho=0
[ "$(head -c 4 "$game" | od -An -tx1 | tr -d ' \n')" = cffaedfe ] && macho=1
if [ "$macho" = 1 ] && [ "$(uname)" = Darwin ]; then
    nm_m() { nm -m "$@"; }
    load_commands() { otool -l "$@"; }
    libraries() { otool -L "$@" | tail -n +2; }
    header() { otool -hv "$@"; }
    disassembly() { otool -tV "$@"; }
elif [ "$macho" = 1 ]; then
    nm_m() { llvm-nm-19 -m "$@"; }
    load_commands() { llvm-objdump-19 --macho --private-headers "$@"; }
    libraries() { llvm-objdump-19 --macho --dylibs-used "$@" | tail -n +2; }
    header() { llvm-objdump-19 --macho --private-header "$@"; }
    disassembly() { llvm-objdump-19 --macho -d "$@"; }
fi

# The internal routines at the offsets the launcher targets, not exported.
if [ "$macho" = 1 ]; then
    symbols=$(nm_m "$engine")
    # As the symbol table says: Zig's linker also puts private externals in
    # the export trie, which Apple's does not.
    exported=$(awk '/\) external / {print $1, "T", $NF}' <<<"$symbols")
else
    symbols=$(nm "$engine")
    exported=$(nm -D --defined-only "$engine")
fi
[ ${#routines[@]} -gt 0 ] || fail "no routines given to check"
for entry in "${routines[@]}"; do
    name=${entry%%=*} offset=${entry##*=}
    grep -qE "^0*$offset .* _?$name\$" <<<"$symbols" || fail "$name is not at offset 0x$offset"
    grep -qE "[ _]$name\$" <<<"$exported" && fail "$name is exported by name"
done
grep -qE " T _?PlayerMain$" <<<"$exported" || fail "PlayerMain is not exported"

if [ "$macho" = 1 ]; then
    # Only system libraries and the engine, found through the rpath; the
    # sanitizers' runtime in their build. Cross-built, FLTK is a link stub.
    while read -r name _; do
        case "$name" in
            /usr/lib/*|/System/Library/Frameworks/*) ;;
            @rpath/UnityPlayer.dylib) ;;
            @rpath/libclang_rt.*_osx_dynamic.dylib|*/libclang_rt.*_osx_dynamic.dylib) ;;
            @rpath/libfltk.1.3.dylib) [ "$(uname)" = Darwin ] && fail "FLTK is not linked in statically" ;;
            *) fail "unexpected library: $name" ;;
        esac
    done < <(libraries "$game")
    load_commands "$game" | grep -A2 LC_RPATH | grep -q "path @executable_path/../Frameworks " \
        || fail "rpath is not @executable_path/../Frameworks"
    load_commands "$engine" | grep -A2 LC_ID_DYLIB | grep -q "name @rpath/UnityPlayer.dylib " \
        || fail "the engine's install name is not @rpath/UnityPlayer.dylib"
    # Room after the load commands, so that codesign can add its own and
    # install_name_tool can change names and rpaths.
    for image in "$game" "$engine"; do
        commands_end=$(header "$image" | awk '$1 ~ /MH_MAGIC_64/ {print 32 + $7}')
        first_section=$(load_commands "$image" | awk '$1 == "offset" && $2 > 0 {print $2}' | sort -n | head -1)
        [ -n "$commands_end" ] && [ -n "$first_section" ] && [ $((first_section - commands_end)) -ge 32 ] ||
            fail "$(basename "$image") has no room after its load commands (${commands_end:-?} to ${first_section:-?})"
    done
    header "$game" | grep -q PIE || fail "the executable is not position-independent"
    header "$game" | grep -q TWOLEVEL || fail "the executable does not bind its imports to their libraries"
    header "$game" | grep -q X86_64 || fail "the executable is not x86-64"
    header "$game" | grep -q EXECUTE || fail "Game is not an executable"
    nm_m "$game" | grep -q "dynamically looked up" && fail "some imports are looked up in no particular library"
    # Quit during the chooser must end it as a closed window does, not by
    # FLTK's exit(0): Game stores 0 in fl_mac_quit_early.
    # (A sanitizer's check may stand between the address and the store.)
    disassembly "$game" | grep -A12 '_fl_mac_quit_early' | grep -q 'movl[[:space:]]*\$0x0,' ||
        fail "Game does not set FLTK's fl_mac_quit_early to 0"
    # The global allocation operators (new, new[], delete, delete[], in any
    # form) are the engine's: imported from it, none of Game's own. A
    # sanitizer's runtime puts its own first by design.
    operators=$(nm_m "$game" | grep -E ' __Z(nw|na|dl|da)[A-Za-z0-9_]*( |$)')
    grep -q . <<<"$operators" || fail "Game uses no allocation operator at all"
    while read -r line; do
        case "$line" in
            *"(undefined) external "*" (from UnityPlayer)") ;;
            *"(undefined) external "*" (from libclang_rt.asan_osx_dynamic)")
                echo "note: ${line##* external } is the sanitizer's, as its build intends" ;;
            *) fail "an allocation operator is not the engine's: $line" ;;
        esac
    done <<<"$operators"
    # Game linking the C++ runtime as a library (a Mac build): the runtime
    # allocates inside itself, and dyld sends those calls to the engine's
    # operators only when the engine is flagged as overriding weak ones.
    if libraries "$game" | grep -q 'libc++\.1\.dylib' && grep -q "(from UnityPlayer)" <<<"$operators"; then
        header "$engine" | grep -q WEAK_DEFINES ||
            fail "the engine is not flagged MH_WEAK_DEFINES: the C++ runtime's own allocations would bypass its operators"
    fi
    # The launcher targets the engine it was built with: its LC_UUID, as bytes.
    uuid=$(load_commands "$engine" | grep -A2 LC_UUID | awk '$1 == "uuid" {print $2}')
    [ -n "$uuid" ] || fail "the engine has no LC_UUID"
    [ -n "$(load_commands "$game" | grep -A2 LC_UUID | awk '$1 == "uuid" {print $2}')" ] || fail "Game has no LC_UUID"
    python3 -c 'import sys; sys.exit(bytes.fromhex(sys.argv[1].replace("-", "")) not in open(sys.argv[2], "rb").read())' \
        "$uuid" "$game" || fail "Game does not hold the engine's UUID $uuid"
    if command -v codesign >/dev/null 2>&1; then
        codesign --verify "$bundle" || fail "the bundle's signature does not verify"
    fi
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
