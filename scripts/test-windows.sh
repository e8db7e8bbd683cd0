#!/usr/bin/env bash
# The Windows programs, 32-bit and 64-bit: cross-built with MinGW-w64 from the
# same sources, checked to need no DLL beyond the system's, packed together
# into the Windows zip, and run under Wine (tests/windows/wine_cases.sh): with
# no MIDI ports, with the stand-in winmm.dll over the device model (also
# playing Windows 11's MIDI service), and the 32-bit one with Wine's own winmm
# over the ALSA sequencer against tarnwick-target, on virtual ports and as a
# USB device.
#
# Wine is Debian's Wine in private roots (scripts/lib/wine_root.sh), never
# installed on this machine. The 32-bit program runs under 32-bit Wine, which
# needs a kernel that runs 32-bit programs. Where this machine's does, its
# first three groups run here; where it does not, or with
# TARNWICK_WINDOWS_IN_VM=1, they run in the VM (scripts/lib/vm.sh), which runs
# this machine's root and the private one in it. The ALSA and USB groups always
# run in the VM: they need a sequencer with no ports but the target's, never
# this machine's devices, and the USB one a virtual bus.
# Each VM boot creates a Wine prefix (minutes without KVM), so the groups
# share one boot. The 64-bit program runs here under 64-bit Wine, amd64
# packages alone, with no 32-bit runtime beside it.
set -euo pipefail
# shellcheck source-path=SCRIPTDIR source=lib/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"
# shellcheck source-path=SCRIPTDIR source=lib/vm.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/vm.sh"
# shellcheck source-path=SCRIPTDIR source=lib/wine_root.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/wine_root.sh"

cases_dir=$repo_root/tests/windows
build_dir=$repo_root/build-windows
double_dir=$repo_root/build-windows-winmm
build64_dir=$repo_root/build-windows-x64
double64_dir=$repo_root/build-windows-winmm-x64
native_dir=$repo_root/build-native
exe=$build_dir/src/tarnwick-update.exe
double_dll=$double_dir/winmm.dll
exe64=$build64_dir/src/tarnwick-update-x64.exe
double64_dll=$double64_dir/winmm.dll
target=$native_dir/device/tarnwick-target
cross_options=(-DCMAKE_TOOLCHAIN_FILE="$repo_root/cmake/mingw-i686.cmake" -DCMAKE_BUILD_TYPE=Release
  -DTARNWICK_WERROR=ON)
cross64_options=(-DCMAKE_TOOLCHAIN_FILE="$repo_root/cmake/mingw-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release
  -DTARNWICK_WERROR=ON)

work=$(mktemp -d /tmp/tarnwick-windows-step.XXXXXX)
trap 'rm -rf "$work"' EXIT

# --- packages: the cross toolchains, unzip, the native build, Wine's roots, the VM
ensure_packages "${build_packages[@]}" binutils-mingw-w64-i686 g++-mingw-w64-i686-win32 g++-mingw-w64-i686-posix \
  mingw-w64-i686-dev binutils-mingw-w64-x86-64 g++-mingw-w64-x86-64-win32 g++-mingw-w64-x86-64-posix \
  mingw-w64-x86-64-dev unzip
wine_root_prepare
wine64_root_prepare
vm_prepare

# --- build: the programs, the stand-in winmm for each (a project of its own,
# with the posix thread model), and the native tarnwick-target for the ALSA
# cases, in the native step's folder. The 32-bit build packs the zip, so it
# is told where the 64-bit program is. --------------------------------------
quiet_step "build: tarnwick-update-x64.exe" cmake_build "$build64_dir" tarnwick-update "${cross64_options[@]}" \
  -DTARNWICK_TESTS=OFF
quiet_step "build: tarnwick-update.exe" cmake_build "$build_dir" tarnwick-update "${cross_options[@]}" -DTARNWICK_TESTS=OFF \
  -DTARNWICK_WIN64_BUILD_DIR="$build64_dir"
cmake_source=$cases_dir/winmm_double quiet_step "build: the stand-in winmm.dll" cmake_build "$double_dir" "" \
  "${cross_options[@]}" -DCMAKE_TOOLCHAIN_FILE="$repo_root/cmake/mingw-i686-posix.cmake"
cmake_source=$cases_dir/winmm_double quiet_step "build: the 64-bit stand-in winmm.dll" cmake_build "$double64_dir" "" \
  "${cross64_options[@]}" -DCMAKE_TOOLCHAIN_FILE="$repo_root/cmake/mingw-x86_64-posix.cmake"
quiet_step "build: tarnwick-target (native)" cmake_build "$native_dir" tarnwick-target "${native_options[@]}"

# --- imports: only the system's own DLLs ------------------------------------
# The C and C++ runtimes are linked statically; msvcrt is the system's C
# library that MinGW builds on, USER32 and ADVAPI32 may come in with it.
# check_imports EXE OBJDUMP DOUBLE_DLL WHAT
check_imports() {
  local exe=$1 objdump=$2 double_dll=$3 what=$4 dlls winmm_imports unexported
  mapfile -t dlls < <("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
  echo "imports of the $what program: ${dlls[*]}"
  check_equal "$what: imports only system DLLs" \
    "$(printf '%s\n' "${dlls[@]^^}" | grep -vxE '(KERNEL32|WINMM|MSVCRT|USER32|ADVAPI32)\.DLL' | paste -sd' ')" ""
  for dll in KERNEL32.DLL WINMM.DLL; do
    check "$what: imports $dll" grep -qx "$dll" <(printf '%s\n' "${dlls[@]^^}")
  done

  # The stand-in must export, under its plain name, every winmm function the
  # program imports; otherwise Wine refuses to start the program with it.
  mapfile -t winmm_imports < <("$objdump" -p "$exe" |
    awk '/DLL Name:/ { inside = (toupper($3) == "WINMM.DLL"); next }
         inside && NF == 3 && $1 ~ /^[0-9a-f]+$/ { print $3 }
         inside && NF == 0 { inside = 0 }')
  unexported=$(comm -23 <(printf '%s\n' "${winmm_imports[@]}" | sort) <("$objdump" -p "$double_dll" |
    sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/s/^[[:space:]]*\[ *[0-9]*\] //p' | sort) | paste -sd' ')
  if [ ${#winmm_imports[@]} -gt 0 ] && [ -z "$unexported" ]; then
    pass "$what: the stand-in winmm exports all ${#winmm_imports[@]} winmm functions the program imports"
  else
    fail "$what: the stand-in winmm lacks: ${unexported:-(no winmm imports found)}"
  fi
}
check_imports "$exe" i686-w64-mingw32-objdump "$double_dll" 32-bit
check_imports "$exe64" x86_64-w64-mingw32-objdump "$double64_dll" 64-bit

# --- the Windows zip ----------------------------------------------------------
# One folder holding the tested exes, byte for byte, and the how-to and the
# licence with Windows line ends; nothing else (the stand-in winmm above all).
rm -f "$build_dir"/tarnwick-update-*-win32.zip
(cd "$build_dir" && cpack -G ZIP >/dev/null)
zips=("$build_dir"/tarnwick-update-*-win32.zip)
if [ ${#zips[@]} -ne 1 ] || [ ! -f "${zips[0]}" ]; then
  fail "cpack made no single tarnwick-update-*-win32.zip"
else
  zip=${zips[0]}
  folder=$(basename "$zip" .zip)
  check_equal "zip holds exactly $folder/ with the two programs, HOW-TO-UPDATE.txt and LICENSE.txt" \
    "$(unzip -Z1 "$zip" | sort | paste -sd' ')" \
    "$folder/HOW-TO-UPDATE.txt $folder/LICENSE.txt $folder/tarnwick-update-x64.exe $folder/tarnwick-update.exe"
  check "zip's tarnwick-update.exe is the tested one" cmp -s <(unzip -p "$zip" "$folder/tarnwick-update.exe") "$exe"
  check "zip's tarnwick-update-x64.exe is the tested one" \
    cmp -s <(unzip -p "$zip" "$folder/tarnwick-update-x64.exe") "$exe64"
  check "zip's LICENSE.txt is LICENSE with Windows line ends" \
    cmp -s <(unzip -p "$zip" "$folder/LICENSE.txt") <(sed 's/$/\r/' "$repo_root/LICENSE")
  lf_count=$(unzip -p "$zip" "$folder/HOW-TO-UPDATE.txt" | tr -cd '\n' | wc -c)
  crlf_count=$(unzip -p "$zip" "$folder/HOW-TO-UPDATE.txt" | grep -c $'\r$' || true)
  if [ "$lf_count" -gt 0 ] && [ "$lf_count" -eq "$crlf_count" ]; then
    pass "HOW-TO-UPDATE.txt has Windows line ends ($lf_count lines)"
  else
    fail "HOW-TO-UPDATE.txt: $crlf_count of $lf_count line ends are \\r\\n"
  fi
fi

# --- runs under Wine ----------------------------------------------------------
# wine_cases WHERE GROUP...: the 32-bit program's groups here or ("vm") in one
# VM boot with the sequencer and the virtual USB bus, or ("64") the 64-bit
# program's here, the output also kept for the count.
wine_log=$work/wine.log
wine_cases() {
  local where=$1 bin=bin arch=win32 program=$exe dll=$double_dll cases
  shift
  [ "$where" != 64 ] || bin=bin64 arch=win64 program=$exe64 dll=$double64_dll
  cases=(env "PATH=$wine_dir/$bin:/usr/sbin:/usr/bin:/sbin:/bin" "WINEARCH=$arch" bash "$cases_dir/wine_cases.sh"
    "$program" "$dll" "$target")
  if [ "$where" = vm ]; then
    vm_run --modules "snd-seq $vm_usb_midi_modules" --timeout 2400 -- "${cases[@]}" "$@"
  else
    "${cases[@]}" "$@"
  fi 2>&1 | tee -a "$wine_log"
}
wine_status=0
if [ "${TARNWICK_WINDOWS_IN_VM:-0}" = 1 ]; then
  echo "wine: every run in the VM (TARNWICK_WINDOWS_IN_VM=1)"
  wine_cases vm no-ports stand-in midi-services alsa usb || wine_status=$?
elif "$wine_dir/bin/wine" --version >/dev/null 2>&1; then
  # Wine's 32-bit loader started: this kernel runs 32-bit programs.
  echo "wine: on this machine (it runs 32-bit programs); the ALSA and USB cases in the VM"
  wine_cases here no-ports stand-in midi-services || wine_status=$?
  wine_cases vm alsa usb || wine_status=$?
else
  echo "wine: every run in the VM (this machine's kernel runs no 32-bit programs)"
  wine_cases vm no-ports stand-in midi-services alsa usb || wine_status=$?
fi
echo "wine: the 64-bit program on this machine, under 64-bit Wine"
wine_cases 64 no-ports stand-in midi-services || wine_status=$?
checks_from_log "$wine_log"
if [ "$wine_status" -ne 0 ] && ! grep -q '^FAIL: ' "$wine_log"; then
  fail "the Wine runs ended with status $wine_status"
fi

checks_summary windows
