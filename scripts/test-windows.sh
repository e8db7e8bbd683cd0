#!/usr/bin/env bash
# The 32-bit Windows program: cross-built with MinGW-w64, checked to need no
# DLL beyond the system's, and run under Wine in fresh folders with standard
# input from /dev/null; its standard output is compared byte for byte.
#
# The runs see no MIDI ports (Wine's sound drivers are disabled), so a run
# that gets past the kit stages ends with the missing-input-port message. The
# expected outputs hold Windows' text mode line ends ("\r\n") and the prompt
# of the command interpreter's "pause", which returns at once because standard
# input is at its end.
set -euo pipefail
# shellcheck source-path=SCRIPTDIR source=lib/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"

cases_dir=$repo_root/tests/windows
build_dir=$repo_root/build/ci-windows
exe=$build_dir/src/tarnwick-update.exe
run_timeout=60

# --- packages: the cross toolchain and a 32-bit Wine ------------------------
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
    # The i386 package lists arrive only with the next update.
    apt_updated=0
fi
ensure_packages cmake ninja-build binutils-mingw-w64-i686 g++-mingw-w64-i686-win32 mingw-w64-i686-dev \
    wine wine32:i386

# --- build ------------------------------------------------------------------
cmake -S "$repo_root" -B "$build_dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$repo_root/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DTARNWICK_WERROR=ON -DTARNWICK_TESTS=OFF >/dev/null
ninja -C "$build_dir" -j2 tarnwick-update

failed=0
passed=0
pass() { echo "ok: $1"; passed=$((passed + 1)); }
fail() { echo "FAILED: $1"; failed=$((failed + 1)); }

# --- imports: only the system's own DLLs ------------------------------------
# The C and C++ runtimes are linked statically; msvcrt is the system's C
# library that MinGW builds on, USER32 and ADVAPI32 may come in with it.
mapfile -t dlls < <(i686-w64-mingw32-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
echo "imports: ${dlls[*]}"
foreign=()
for dll in "${dlls[@]}"; do
    case ${dll^^} in
    KERNEL32.DLL | WINMM.DLL | MSVCRT.DLL | USER32.DLL | ADVAPI32.DLL) ;;
    *) foreign+=("$dll") ;;
    esac
done
if [ ${#foreign[@]} -eq 0 ]; then
    pass "imports only system DLLs"
else
    fail "imports DLLs beyond the system's: ${foreign[*]}"
fi
imports_upper=" ${dlls[*]^^} "
for dll in KERNEL32.DLL WINMM.DLL; do
    if [[ $imports_upper == *" $dll "* ]]; then pass "imports $dll"; else fail "does not import $dll"; fi
done

# --- runs under Wine ----------------------------------------------------------
work=$(mktemp -d /tmp/tarnwick-windows.XXXXXX)
export WINEPREFIX=$work/prefix WINEARCH=win32 WINEDEBUG=-all
# No Mono or Gecko install prompts while the prefix is created, and no sound
# drivers: they carry Wine's MIDI ports, so the runs see none whatever the
# host has.
export WINEDLLOVERRIDES="mscoree,mshtml,winealsa.drv,winepulse.drv,wineoss.drv="
unset DISPLAY WAYLAND_DISPLAY

cleanup() {
    # wineserver -k ends the server of this prefix only, with its processes.
    if [ -d "$WINEPREFIX" ]; then timeout 30 wineserver -k >/dev/null 2>&1 || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

# Creating the prefix takes a while the first time; the runs then reuse it.
if ! timeout 300 wineboot -i </dev/null >"$work/wineboot.log" 2>&1; then
    echo "wineboot failed:"
    cat "$work/wineboot.log"
    exit 1
fi

# run_case NAME KIT NAME_IN_FOLDER: one run in a fresh folder that holds the
# kit under the given name (no kit when KIT is "-"), compared with
# tests/windows/expected/NAME.out.
run_case() {
    local name=$1 kit=$2 kit_name=$3
    local dir=$work/$name out=$work/$name.out err=$work/$name.err
    mkdir "$dir"
    [ "$kit" = - ] || cp "$cases_dir/kits/$kit" "$dir/$kit_name"
    local status=0
    (cd "$dir" && timeout -k 5 "$run_timeout" wine "$exe" </dev/null >"$out" 2>"$err") || status=$?
    local expected=$cases_dir/expected/$name.out
    if [ "$status" -ne 0 ]; then
        fail "$name: exit status $status, expected 0"
        [ -s "$err" ] && sed 's/^/  stderr: /' "$err"
    elif ! cmp -s "$expected" "$out"; then
        fail "$name: standard output differs from tests/windows/expected/$name.out"
        echo "  expected:"
        od -c "$expected" | sed 's/^/    /'
        echo "  actual:"
        od -c "$out" | sed 's/^/    /'
    else
        pass "$name: output as expected, exit status 0"
    fi
}

run_case no-kit - -
run_case sound-kit sound.kit Tarnwick_Box.kit
run_case bad-check bad-check.kit Tarnwick_Box.kit
run_case foreign-name sound.kit Other_Device.kit

echo "windows: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
