#!/usr/bin/env bash
# The 32-bit Windows program: cross-built with MinGW-w64, checked to need no
# DLL beyond the system's, packed into the Windows zip, and run under Wine in
# fresh folders with standard input from /dev/null; its standard output is
# compared byte for byte.
#
# Two kinds of runs:
# - with Wine's own winmm and Wine's sound drivers disabled: no MIDI ports at
#   all, so a run that gets past the kit stages ends with the missing-input-port
#   message;
# - with a stand-in winmm.dll beside the program (tests/windows/winmm_double,
#   the device model behind MIDI ports, loaded with WINEDLLOVERRIDES=winmm=n):
#   the unchanged program performs whole updates, and the box's image and
#   counters are checked as well.
# The expected outputs hold Windows' text mode line ends ("\r\n") and the prompt
# of the command interpreter's "pause", which returns at once because standard
# input is at its end.
set -euo pipefail
# shellcheck source-path=SCRIPTDIR source=lib/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"

cases_dir=$repo_root/tests/windows
build_dir=$repo_root/build/ci-windows
double_dir=$repo_root/build/ci-windows-winmm-double
exe=$build_dir/src/tarnwick-update.exe
run_timeout=60

# --- packages: the cross toolchain, a 32-bit Wine, unzip ----------------------
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
    # The i386 package lists arrive only with the next update.
    apt_updated=0
fi
ensure_packages cmake ninja-build binutils-mingw-w64-i686 g++-mingw-w64-i686-win32 mingw-w64-i686-dev \
    wine wine32:i386 unzip

# --- build: the program, then the stand-in winmm (a project of its own) ------
toolchain=$repo_root/cmake/mingw-i686.cmake
cmake -S "$repo_root" -B "$build_dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DTARNWICK_WERROR=ON -DTARNWICK_TESTS=OFF >/dev/null
ninja -C "$build_dir" -j2 tarnwick-update
cmake -S "$cases_dir/winmm_double" -B "$double_dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DTARNWICK_WERROR=ON >/dev/null
ninja -C "$double_dir" -j2
double_dll=$double_dir/winmm.dll

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

# The stand-in must export, under its plain name, every winmm function the
# program imports; otherwise Wine refuses to start the program with it.
mapfile -t winmm_imports < <(i686-w64-mingw32-objdump -p "$exe" |
    awk '/DLL Name:/ { inside = (toupper($3) == "WINMM.DLL"); next }
         inside && NF == 3 && $1 ~ /^[0-9a-f]+$/ { print $3 }
         inside && NF == 0 { inside = 0 }')
double_exports=" $(i686-w64-mingw32-objdump -p "$double_dll" |
    sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/s/^[[:space:]]*\[ *[0-9]*\] //p' | tr '\n' ' ') "
missing=()
for name in "${winmm_imports[@]}"; do
    [[ $double_exports == *" $name "* ]] || missing+=("$name")
done
if [ ${#winmm_imports[@]} -gt 0 ] && [ ${#missing[@]} -eq 0 ]; then
    pass "the stand-in winmm exports all ${#winmm_imports[@]} winmm functions the program imports"
else
    fail "the stand-in winmm lacks: ${missing[*]:-(no winmm imports found)}"
fi

# --- the Windows zip ------------------------------------------------------------
# One folder holding the tested exe, byte for byte, and the how-to with
# Windows line ends; nothing else (the stand-in winmm above all).
rm -f "$build_dir"/tarnwick-update-*-win32.zip
(cd "$build_dir" && cpack -G ZIP >/dev/null)
zips=("$build_dir"/tarnwick-update-*-win32.zip)
if [ ${#zips[@]} -ne 1 ] || [ ! -f "${zips[0]}" ]; then
    fail "cpack made no single tarnwick-update-*-win32.zip"
else
    zip=${zips[0]}
    folder=$(basename "$zip" .zip)
    unzip -l "$zip"
    listing=$(unzip -Z1 "$zip" | sort)
    expected_listing=$(printf '%s\n' "$folder/HOW-TO-UPDATE.txt" "$folder/tarnwick-update.exe")
    if [ "$listing" = "$expected_listing" ]; then
        pass "zip holds exactly $folder/ with tarnwick-update.exe and HOW-TO-UPDATE.txt"
    else
        fail "zip holds: $(echo "$listing" | tr '\n' ' ')"
    fi
    if unzip -p "$zip" "$folder/tarnwick-update.exe" | cmp -s - "$exe"; then
        pass "zip's tarnwick-update.exe is the tested one"
    else
        fail "zip's tarnwick-update.exe differs from $exe"
    fi
    lf_count=$(unzip -p "$zip" "$folder/HOW-TO-UPDATE.txt" | tr -cd '\n' | wc -c)
    crlf_count=$(unzip -p "$zip" "$folder/HOW-TO-UPDATE.txt" | grep -c $'\r$' || true)
    if [ "$lf_count" -gt 0 ] && [ "$lf_count" -eq "$crlf_count" ]; then
        pass "HOW-TO-UPDATE.txt has Windows line ends ($lf_count lines)"
    else
        fail "HOW-TO-UPDATE.txt: $crlf_count of $lf_count line ends are \\r\\n"
    fi
fi

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

# The program with the stand-in winmm beside it, where Wine looks first for a
# native DLL.
midi_bin=$work/midi-bin
mkdir "$midi_bin"
cp "$exe" "$double_dll" "$midi_bin/"

# run_case NAME PROGRAM KIT NAME_IN_FOLDER [VAR=VALUE...]: one run of PROGRAM
# with the given environment in a fresh folder that holds the kit under the
# given name (no kit when KIT is "-", an empty folder of that name when it is
# "/"); its output is compared with
# tests/windows/expected/NAME.out. Fails when the run or the comparison did.
run_case() {
    local name=$1 program=$2 kit=$3 kit_name=$4
    shift 4
    local dir=$work/$name out=$work/$name.out err=$work/$name.err
    mkdir "$dir"
    case $kit in
    -) ;;
    /) mkdir "$dir/$kit_name" ;;
    *) cp "$cases_dir/kits/$kit" "$dir/$kit_name" ;;
    esac
    local status=0 started=$EPOCHREALTIME
    (cd "$dir" && env "$@" timeout -k 5 "$run_timeout" wine "$program" </dev/null >"$out" 2>"$err") || status=$?
    local seconds
    seconds=$(awk -v a="$started" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }')
    local expected=$cases_dir/expected/$name.out
    if [ "$status" -ne 0 ]; then
        fail "$name: exit status $status, expected 0 (${seconds} s)"
        [ -s "$err" ] && sed 's/^/  stderr: /' "$err"
        return 1
    elif ! cmp -s "$expected" "$out"; then
        fail "$name: standard output differs from tests/windows/expected/$name.out (${seconds} s)"
        echo "  expected:"
        od -c "$expected" | sed 's/^/    /'
        echo "  actual:"
        od -c "$out" | sed 's/^/    /'
        return 1
    fi
    pass "$name: output as expected, exit status 0 (${seconds} s)"
}

# The bytes a kit's hexadecimal text stands for.
kit_image() {
    local byte
    # shellcheck disable=SC2059 # the format is the byte's escape
    for byte in $(tr -cs '0-9A-Fa-f' ' ' <"$1"); do printf "\\x$byte"; done
}

# midi_case NAME PORTS FAULTS IMAGE COUNTERS: the program and the stand-in
# winmm, with the kit three-records.kit as Tarnwick_Box.kit; PORTS and FAULTS
# as TARNWICK_TEST_PORTS and TARNWICK_TEST_FAULTS take them. At the end the
# box must hold IMAGE ("kit": the kit's bytes, "empty": nothing) and report
# COUNTERS, which end with the number of ports left open; "-" for both when no
# port may ever be opened.
midi_kit=three-records.kit
midi_case() {
    local name=$1 ports=$2 faults=$3 image=$4 counters=$5
    local report=$work/$name.report
    mkdir "$report"
    # Wine's Z: drive is the Unix root.
    run_case "$name" "$midi_bin/tarnwick-update.exe" "$midi_kit" Tarnwick_Box.kit \
        WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winmm=n" TARNWICK_TEST_PORTS="$ports" TARNWICK_TEST_FAULTS="$faults" \
        TARNWICK_TEST_IMAGE="Z:$report/image" TARNWICK_TEST_COUNTERS="Z:$report/counters" || return 0

    if [ "$image" = - ]; then
        if [ -e "$report/counters" ]; then fail "$name: a port was opened"; else pass "$name: no port opened"; fi
        return 0
    fi
    local expected_image=$work/$name.expected-image counted
    if [ "$image" = kit ]; then kit_image "$cases_dir/kits/$midi_kit" >"$expected_image"; else : >"$expected_image"; fi
    if cmp -s "$expected_image" "$report/image"; then
        pass "$name: the box holds the expected image ($image, $(wc -c <"$report/image") bytes)"
    else
        fail "$name: the box's image is not the expected one ($image)"
    fi
    counted=$(cat "$report/counters" 2>/dev/null || echo "(no report)")
    if [ "$counted" = "$counters" ]; then
        pass "$name: box counted $counters"
    else
        fail "$name: box counted $counted, expected $counters"
    fi
}

echo "-- Wine's own winmm, no MIDI ports"
run_case no-kit "$exe" - - || true
run_case sound-kit "$exe" sound.kit Tarnwick_Box.kit || true
run_case bad-check "$exe" bad-check.kit Tarnwick_Box.kit || true
run_case foreign-name "$exe" sound.kit Other_Device.kit || true
run_case folder-named-as-kit "$exe" / Tarnwick_Box.kit || true

# The kit: records of 27, 23 and 4 bytes, sent as 2, 1 and 1 frames after the
# one handshake frame; progress 0, 50 and 92 percent.
echo "-- the stand-in winmm, a Tarnwick Box behind its ports"
box="Tarnwick Box"
midi_case clean-update "$box" "" kit "frames=5 handshakes=1 attempts=3 written=3 open=0"
midi_case crc-retry "$box" verdicts=20 kit "frames=7 handshakes=1 attempts=4 written=3 open=0"
midi_case silent-device "$box" silent empty "frames=19 handshakes=0 attempts=0 written=0 open=0"
midi_case foreign-product "$box" handshake=31 empty "frames=1 handshakes=1 attempts=0 written=0 open=0"
midi_case system-port-skip "Microsoft GS Wavetable Synth|$box" "" kit "frames=5 handshakes=1 attempts=3 written=3 open=0"
# Port 0 is held by another program: the search ends there, port 1 is never
# tried.
midi_case held-port "!$box|$box" "" - -

echo "windows: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
