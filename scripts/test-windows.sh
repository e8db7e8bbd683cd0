#!/usr/bin/env bash
# The 32-bit Windows program: cross-built with MinGW-w64, checked to need no
# DLL beyond the system's, packed into the Windows zip, and run under Wine
# (tests/windows/wine_cases.sh): with no MIDI ports, with the stand-in
# winmm.dll over the device model, and with Wine's own winmm over the ALSA
# sequencer against tarnwick-target.
#
# 32-bit Wine needs a kernel that runs 32-bit programs. Where this machine's
# does, the first two groups run here; where it does not, or with
# TARNWICK_WINDOWS_IN_VM=1, they run in the VM (scripts/lib/vm.sh), which runs
# this machine's own Wine. The ALSA group always runs in the VM: it needs a
# sequencer with no ports but the target's, never this machine's devices.
# Each VM boot creates a Wine prefix (minutes without KVM), so the groups
# share one boot.
set -euo pipefail
# shellcheck source-path=SCRIPTDIR source=lib/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"
# shellcheck source-path=SCRIPTDIR source=lib/vm.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/vm.sh"

cases_dir=$repo_root/tests/windows
build_dir=$repo_root/build-windows
double_dir=$repo_root/build-windows-winmm
native_dir=$repo_root/build-native
exe=$build_dir/src/tarnwick-update.exe
double_dll=$double_dir/winmm.dll
target=$native_dir/target/tarnwick-target
toolchain=$repo_root/cmake/mingw-i686.cmake

work=$(mktemp -d /tmp/tarnwick-windows-step.XXXXXX)
trap 'rm -rf "$work"' EXIT

# step TEXT COMMAND...: one line for the step; COMMAND's output goes to a log
# that is shown only when it fails.
step() {
  local text=$1 log=$work/step.log
  shift
  echo "$text"
  if ! "$@" >"$log" 2>&1; then
    echo "failed: $text"
    cat "$log"
    exit 1
  fi
}

# --- packages: the cross toolchain, Wine, unzip, the VM ---------------------
# Wine is needed here even where this kernel cannot run it: the VM runs this
# machine's root.
add_i386() {
  dpkg --print-foreign-architectures | grep -qx i386 && return 0
  as_root dpkg --add-architecture i386
  # The i386 package lists arrive only with the next update.
  apt_updated=0
}
add_i386
step "packages: MinGW-w64, Wine, unzip" ensure_packages cmake ninja-build binutils-mingw-w64-i686 \
  g++-mingw-w64-i686-win32 mingw-w64-i686-dev wine wine32:i386 unzip
step "packages: native build" ensure_packages "${build_packages[@]}"
step "packages: the VM, its kernel and initramfs" vm_prepare

# --- build: the program, the stand-in winmm (a project of its own), and the
# native tarnwick-target for the ALSA cases --------------------------------
build_windows() {
  cmake -S "$repo_root" -B "$build_dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DTARNWICK_WERROR=ON -DTARNWICK_TESTS=OFF &&
    ninja -C "$build_dir" -j2 tarnwick-update
}
build_stand_in() {
  cmake -S "$cases_dir/winmm_double" -B "$double_dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DTARNWICK_WERROR=ON &&
    ninja -C "$double_dir" -j2
}
# The native build's folder and settings (scripts/test-native.sh).
build_target() {
  if [ ! -f "$native_dir/build.ninja" ]; then
    cmake -S "$repo_root" -B "$native_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNWICK_WERROR=ON || return 1
  fi
  cmake --build "$native_dir" -j2 --target tarnwick-target
}
step "build: tarnwick-update.exe" build_windows
step "build: the stand-in winmm.dll" build_stand_in
step "build: tarnwick-target (native)" build_target

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

# --- the Windows zip ----------------------------------------------------------
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
# True when this kernel runs 32-bit x86 programs, found out by running one: a
# minimal static ELF32 whose only instructions end it with status 42.
runs_32bit_programs() {
  local probe=$work/probe32 status=0
  {
    printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'
    # ELF header: executable, i386, entry 0x08048054, one program header.
    printf '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00'
    printf '\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00'
    # Program header: the file's 96 bytes loaded at 0x08048000, readable and
    # executable.
    printf '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'
    printf '\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'
    # mov eax, 1 (exit); mov ebx, 42; int 0x80
    printf '\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80'
  } >"$probe"
  chmod +x "$probe"
  "$probe" 2>/dev/null || status=$?
  [ "$status" -eq 42 ]
}

wine_cases=("$cases_dir/wine_cases.sh" "$exe" "$double_dll" "$target")
wine_log=$work/wine.log
# vm_wine_cases GROUP...: the groups in one VM boot with the sequencer alone.
vm_wine_cases() {
  vm_run --modules snd-seq --timeout 2400 -- bash "${wine_cases[@]}" "$@"
}
wine_status=0
if [ "${TARNWICK_WINDOWS_IN_VM:-0}" = 1 ]; then
  echo "wine: every run in the VM (TARNWICK_WINDOWS_IN_VM=1)"
  vm_wine_cases no-ports stand-in alsa 2>&1 | tee "$wine_log" || wine_status=$?
elif runs_32bit_programs; then
  echo "wine: on this machine (it runs 32-bit programs); the ALSA cases in the VM"
  bash "${wine_cases[@]}" no-ports stand-in 2>&1 | tee "$wine_log" || wine_status=$?
  vm_wine_cases alsa 2>&1 | tee -a "$wine_log" || wine_status=$?
else
  echo "wine: every run in the VM (this machine's kernel runs no 32-bit programs)"
  vm_wine_cases no-ports stand-in alsa 2>&1 | tee "$wine_log" || wine_status=$?
fi
passed=$((passed + $(grep -c '^ok: ' "$wine_log" || true)))
failed=$((failed + $(grep -c '^FAILED: ' "$wine_log" || true)))
if [ "$wine_status" -ne 0 ] && ! grep -q '^FAILED: ' "$wine_log"; then
  fail "the Wine runs ended with status $wine_status"
fi

echo "windows: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
