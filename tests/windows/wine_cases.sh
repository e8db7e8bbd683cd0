#!/usr/bin/env bash
# The Windows program's runs under Wine, each in a fresh folder with standard
# input from /dev/null, its standard output compared byte for byte with
# expected/NAME.out: Windows' text mode line ends ("\r\n") and the prompt of
# the command interpreter's "pause", which returns at once because standard
# input is at its end. scripts/test-windows.sh runs this on this machine or
# inside the VM, where only /tmp and the working folder are writable.
#
#   wine_cases.sh EXE WINMM_DLL TARGET GROUP...
#
# Groups:
#   no-ports  Wine's own winmm with Wine's sound drivers disabled: no MIDI
#             ports at all, so a run that gets past the kit stages ends with
#             the missing-input-port message;
#   stand-in  the stand-in WINMM_DLL beside the program (the device model
#             behind MIDI ports, loaded with WINEDLLOVERRIDES=winmm=n): whole
#             updates, with the box's image and counters checked as well;
#   alsa      Wine's own winmm over the ALSA sequencer, with TARGET
#             (tarnwick-target) as the box: the real winmm of a Windows
#             implementation. Needs /dev/snd/seq without "Midi Through",
#             whose ports Wine lists as ordinary ones.
#
# Prints "ok: ..." or "FAILED: ..." per check; exit status 1 when any failed.
set -uo pipefail
cases_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source-path=SCRIPTDIR source=../../scripts/lib/jack.sh
source "$cases_dir/../../scripts/lib/jack.sh" # stop_process

exe=$1
double_dll=$2
target=$3
shift 3
run_timeout=180

failed=0
passed=0
pass() { echo "ok: $1"; passed=$((passed + 1)); }
fail() { echo "FAILED: $1"; failed=$((failed + 1)); }

work=$(mktemp -d /tmp/tarnwick-windows.XXXXXX)
# Wine writes its fonts cache and menu entries below HOME.
export HOME=$work/home WINEPREFIX=$work/prefix WINEARCH=win32 WINEDEBUG=-all
mkdir "$HOME"
# No Mono or Gecko install prompts while the prefix is created, no menu
# entries, and no sound drivers: they carry Wine's MIDI ports, so the runs see
# none whatever the machine has. The ALSA group lets the ALSA driver back in.
base_overrides="mscoree,mshtml,winemenubuilder.exe,winepulse.drv,wineoss.drv="
export WINEDLLOVERRIDES="$base_overrides;winealsa.drv="
unset DISPLAY WAYLAND_DISPLAY

target_pid=
cleanup() {
  stop_process "$target_pid"
  # wineserver -k ends the server of this prefix only, with its processes.
  if [ -d "$WINEPREFIX" ]; then timeout 30 wineserver -k >/dev/null 2>&1 || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# Creating the prefix takes minutes in an emulated machine; the runs then
# reuse it. Wine's loader stops waiting for a new prefix after five minutes,
# and wineboot then fails while the set-up goes on: wait for that to end, and
# let the runs tell whether the prefix is sound.
started=$SECONDS
if ! timeout 900 wineboot -i </dev/null >"$work/wineboot.log" 2>&1 && ((SECONDS - started < 300)); then
  fail "wineboot failed:"
  cat "$work/wineboot.log"
  exit 1
fi
if ! timeout 600 wineserver -w; then
  fail "the Wine prefix was not set up within $((SECONDS - started)) s"
  exit 1
fi
echo "wineboot: $((SECONDS - started)) s"
# One server for every run, so that Wine's own services start only once.
wineserver -p
# run_case NAME EXPECTED PROGRAM KIT NAME_IN_FOLDER [VAR=VALUE...]: one run of
# PROGRAM with the given environment in a fresh folder that holds the kit
# under the given name (no kit when KIT is "-", an empty folder of that name
# when it is "/"); its output is compared with
# expected/EXPECTED.out. Fails when the run or the comparison did.
run_case() {
  local name=$1 expected_name=$2 program=$3 kit=$4 kit_name=$5
  local expected=$cases_dir/expected/$expected_name.out
  shift 5
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
  if [ "$status" -ne 0 ]; then
    fail "$name: exit status $status, expected 0 (${seconds} s)"
    [ -s "$err" ] && sed 's/^/  stderr: /' "$err"
    return 1
  elif ! cmp -s "$expected" "$out"; then
    fail "$name: standard output differs from tests/windows/expected/$expected_name.out (${seconds} s)"
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

# check_image NAME IMAGE FILE: the box holds IMAGE ("kit": the kit's bytes,
# "empty": nothing) in FILE.
check_image() {
  local name=$1 image=$2 file=$3 expected_image=$work/$1.expected-image
  if [ "$image" = kit ]; then kit_image "$cases_dir/kits/$midi_kit" >"$expected_image"; else : >"$expected_image"; fi
  if [ -f "$file" ] && cmp -s "$expected_image" "$file"; then
    pass "$name: the box holds the expected image ($image, $(wc -c <"$file") bytes)"
  else
    fail "$name: the box's image is not the expected one ($image)"
  fi
}

# The kit: records of 27, 23 and 4 bytes, sent as 2, 1 and 1 frames after the
# one handshake frame; progress 0, 50 and 92 percent.
midi_kit=three-records.kit

# stand_in_case NAME PORTS FAULTS IMAGE COUNTERS: the program and the stand-in
# winmm, with the kit as Tarnwick_Box.kit; PORTS and FAULTS as
# TARNWICK_TEST_PORTS and TARNWICK_TEST_FAULTS take them. At the end the box
# must hold IMAGE and report COUNTERS, which end with the number of ports left
# open; "-" for both when no port may ever be opened.
stand_in_case() {
  local name=$1 ports=$2 faults=$3 image=$4 counters=$5
  local report=$work/$name.report counted
  mkdir "$report"
  # Wine's Z: drive is the Unix root.
  run_case "$name" "$name" "$stand_in_bin/tarnwick-update.exe" "$midi_kit" Tarnwick_Box.kit \
    WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winmm=n" TARNWICK_TEST_PORTS="$ports" TARNWICK_TEST_FAULTS="$faults" \
    TARNWICK_TEST_IMAGE="Z:$report/image" TARNWICK_TEST_COUNTERS="Z:$report/counters" || return 0

  if [ "$image" = - ]; then
    if [ -e "$report/counters" ]; then fail "$name: a port was opened"; else pass "$name: no port opened"; fi
    return 0
  fi
  check_image "$name" "$image" "$report/image"
  counted=$(cat "$report/counters" 2>/dev/null || echo "(no report)")
  if [ "$counted" = "$counters" ]; then
    pass "$name: box counted $counters"
  else
    fail "$name: box counted $counted, expected $counters"
  fi
}

# alsa_case NAME EXPECTED TARGET_OPTIONS IMAGE TARGET_STATUS: the unchanged
# program under Wine's own winmm, tarnwick-target on the ALSA sequencer with
# the kit and these options. Besides the output: the image the target saved,
# its exit status once stopped, and nothing on its standard error.
alsa_case() {
  local name=$1 expected=$2 image=$4 target_status=$5 options tries
  read -ra options <<<"$3"
  local report=$work/$name.target
  "$target" --api alsa --kit "$cases_dir/kits/$midi_kit" --save "$report.image" --timeout 600 "${options[@]}" \
    </dev/null >"$report.out" 2>"$report.err" &
  target_pid=$!
  for ((tries = 0; tries < 300; tries++)); do
    grep -q ' ready: ' "$report.out" 2>/dev/null && break
    kill -0 "$target_pid" 2>/dev/null || break
    sleep 0.1
  done
  if ! grep -q ' ready: ' "$report.out"; then
    fail "$name: tarnwick-target did not get ready: $(cat "$report.err")"
    stop_process "$target_pid"
    target_pid=
    return 0
  fi
  run_case "$name" "$expected" "$exe" "$midi_kit" Tarnwick_Box.kit WINEDLLOVERRIDES="$base_overrides"
  stop_process "$target_pid"
  target_pid=
  check_image "$name" "$image" "$report.image"
  if [ "$stopped_status" = "$target_status" ] && [ ! -s "$report.err" ]; then
    pass "$name: tarnwick-target ended with status $target_status"
  else
    fail "$name: tarnwick-target ended with status $stopped_status, not $target_status: $(cat "$report.err")"
    sed 's/^/  target: /' "$report.out"
  fi
}

for group in "$@"; do
  case $group in
  no-ports)
    echo "-- Wine's own winmm, no MIDI ports"
    run_case no-kit no-kit "$exe" - - || true
    run_case sound-kit sound-kit "$exe" sound.kit Tarnwick_Box.kit || true
    run_case bad-check bad-check "$exe" bad-check.kit Tarnwick_Box.kit || true
    run_case foreign-name foreign-name "$exe" sound.kit Other_Device.kit || true
    run_case folder-named-as-kit folder-named-as-kit "$exe" / Tarnwick_Box.kit || true
    ;;
  stand-in)
    echo "-- the stand-in winmm, a Tarnwick Box behind its ports"
    # The program with the stand-in winmm beside it, where Wine looks first
    # for a native DLL.
    stand_in_bin=$work/stand-in-bin
    mkdir "$stand_in_bin"
    cp "$exe" "$double_dll" "$stand_in_bin/"
    box="Tarnwick Box"
    stand_in_case clean-update "$box" "" kit "frames=5 handshakes=1 attempts=3 written=3 open=0"
    stand_in_case crc-retry "$box" verdicts=20 kit "frames=7 handshakes=1 attempts=4 written=3 open=0"
    stand_in_case silent-device "$box" silent empty "frames=19 handshakes=0 attempts=0 written=0 open=0"
    stand_in_case foreign-product "$box" handshake=31 empty "frames=1 handshakes=1 attempts=0 written=0 open=0"
    stand_in_case system-port-skip "Microsoft GS Wavetable Synth|$box" "" kit "frames=5 handshakes=1 attempts=3 written=3 open=0"
    # Port 0 is held by another program: the search ends there, port 1 is
    # never tried.
    stand_in_case held-port "!$box|$box" "" - -
    ;;
  alsa)
    echo "-- Wine's own winmm over the ALSA sequencer, tarnwick-target as the box"
    # The same updates as with the stand-in, so the same outputs.
    alsa_case alsa-clean-update clean-update "" kit 0
    alsa_case alsa-crc-retry crc-retry "--verdicts 20" kit 0
    alsa_case alsa-foreign-product foreign-product "--handshake-code 42" empty 1
    ;;
  *)
    fail "unknown group $group"
    ;;
  esac
done

echo "wine: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
