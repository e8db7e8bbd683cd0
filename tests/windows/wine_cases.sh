#!/usr/bin/env bash
# The Windows program's runs under Wine, each in a fresh folder with standard
# input from /dev/null, its standard output compared byte for byte with
# expected/NAME.out: Windows' line ends ("\r\n") and the prompt of cmd's
# "pause", which returns at once at the end of standard input.
# scripts/test-windows.sh runs this here or in the VM, where only /tmp and the
# working folder are writable.
#
#   wine_cases.sh EXE WINMM_DLL TARGET GROUP...
#
# EXE is the 32-bit program, or with WINEARCH=win64 in the environment (and a
# 64-bit Wine first on PATH) the 64-bit one; WINMM_DLL is the stand-in built
# for the same.
#
#   no-ports  Wine's own winmm with Wine's sound drivers disabled: no MIDI
#             ports, so a run past the kit stages ends with the
#             missing-input-port message;
#   stand-in  the stand-in WINMM_DLL beside the program (the device model
#             behind MIDI ports): whole updates, with the box's image and
#             counters checked as well;
#   midi-services  the same stand-in playing Windows 11's MIDI service: its
#             synth at output 0, opens refused until the ports were counted,
#             long answers in several buffers, a send to a box gone failing
#             after 1 s, midiInReset calling back until no buffer is queued;
#   alsa      Wine's own winmm over the ALSA sequencer, TARGET
#             (tarnwick-target) as the box. Needs /dev/snd/seq without
#             "Midi Through", whose ports Wine lists as ordinary ones.
#   usb       the same, TARGET a USB MIDI device on dummy_hcd's controller
#             that the kernel's USB MIDI driver binds, as a plugged-in box.
#             Needs the modules of the USB cases in scripts/test-alsa.sh.
#
# One line per check, "PASS: ..." or "FAIL: ..."; exit status 1 when any failed.
set -uo pipefail
cases_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source-path=SCRIPTDIR source=../../scripts/lib/common.sh
source "$cases_dir/../../scripts/lib/common.sh"

exe=$1
double_dll=$2
target=$3
shift 3
# The kit of the updates: records of 27, 23 and 4 bytes, sent as 2, 1 and 1
# frames after the one handshake frame; progress 0, 50 and 92 percent.
midi_kit=three-records.kit

work=$(mktemp -d /tmp/tarnwick-windows.XXXXXX)
# Wine writes its fonts cache and menu entries below HOME.
export HOME=$work/home WINEPREFIX=$work/prefix WINEARCH=${WINEARCH:-win32} WINEDEBUG=-all
mkdir "$HOME"
# No Mono or Gecko install prompts while the prefix is created, no menu
# entries, and no sound drivers: they carry Wine's MIDI ports, so the runs see
# none whatever the machine has. The ALSA group lets the ALSA driver back in.
base_overrides="mscoree,mshtml,winemenubuilder.exe,winepulse.drv,wineoss.drv="
export WINEDLLOVERRIDES="$base_overrides;winealsa.drv="
unset DISPLAY WAYLAND_DISPLAY

cleanup() {
  target_stop
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

# run_case NAME PROGRAM KIT KIT_NAME [VAR=VALUE...]: one run of PROGRAM with
# the given environment in a fresh folder that holds the kit as KIT_NAME (no
# kit when KIT is "-", an empty folder of that name when it is "/"), its
# output compared with expected/NAME.out; a case over the ALSA sequencer,
# alsa-NAME or usb-NAME, expects the same as its stand-in twin where it has
# one, and so does a case on the unfixed service, unfixed-NAME. False when the
# run or the comparison failed.
run_case() {
  local name=$1 program=$2 kit=$3 kit_name=$4 expected_name=${1#alsa-}
  expected_name=${expected_name#usb-}
  expected_name=${expected_name#unfixed-}
  shift 4
  local expected=$cases_dir/expected/$expected_name.out dir=$work/$name out=$work/$name.out err=$work/$name.err
  mkdir "$dir"
  case $kit in
  -) ;;
  /) mkdir "$dir/$kit_name" ;;
  *) cp "$cases_dir/kits/$kit" "$dir/$kit_name" ;;
  esac
  local status=0 started=$EPOCHREALTIME seconds
  (cd "$dir" && env "$@" timeout -k 5 180 wine "$program" </dev/null >"$out" 2>"$err") || status=$?
  seconds=$(awk -v a="$started" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }')
  if [ "$status" -ne 0 ]; then
    fail "$name: exit status $status, expected 0 (${seconds} s)"
    [ -s "$err" ] && sed 's/^/  stderr: /' "$err"
    return 1
  elif ! cmp -s "$expected" "$out"; then
    fail "$name: standard output differs from tests/windows/expected/$expected_name.out (${seconds} s)"
    show_difference "$expected" "$out"
    return 1
  fi
  pass "$name: output as expected, exit status 0 (${seconds} s)"
}

# The images a box may end with, IMAGE.image: "kit", the bytes the kit's
# hexadecimal text stands for, "two-records", its first 50, or "empty".
: >"$work/empty.image"
# shellcheck disable=SC2059 # the format is the byte's escape
for byte in $(tr -cs '0-9A-Fa-f' ' ' <"$cases_dir/kits/$midi_kit"); do printf "\\x$byte"; done >"$work/kit.image"
head -c 50 "$work/kit.image" >"$work/two-records.image"

# The program with the stand-in winmm beside it, where Wine looks first for a
# native DLL.
stand_in_bin=$work/stand-in-bin
mkdir "$stand_in_bin"
cp "$exe" "$double_dll" "$stand_in_bin/"

# stand_in_case NAME PORTS FAULTS IMAGE COUNTERS [STACK]: the program and the
# stand-in winmm, with the kit as Tarnwick_Box.kit; PORTS, FAULTS and STACK
# (winmm unless told) as TARNWICK_TEST_PORTS, TARNWICK_TEST_FAULTS and
# TARNWICK_TEST_STACK take them. At the end the box must hold IMAGE and report
# COUNTERS, which end with the number of ports left open; "-" for both when no
# port may ever be opened.
stand_in_case() {
  local name=$1 ports=$2 faults=$3 image=$4 counters=$5 stack=${6:-winmm} report=$work/$1.report
  mkdir "$report"
  # Wine's Z: drive is the Unix root.
  run_case "$name" "$stand_in_bin/$(basename "$exe")" "$midi_kit" Tarnwick_Box.kit \
    WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winmm=n" TARNWICK_TEST_PORTS="$ports" TARNWICK_TEST_FAULTS="$faults" \
    TARNWICK_TEST_STACK="$stack" \
    TARNWICK_TEST_IMAGE="Z:$report/image" TARNWICK_TEST_COUNTERS="Z:$report/counters" || return 0
  if [ "$image" = - ]; then
    check "$name: no port opened" test ! -e "$report/counters"
  else
    check "$name: the box holds the expected image ($image)" cmp -s "$work/$image.image" "$report/image"
    check_counters "$name" "$(cat "$report/counters" 2>/dev/null || echo "(no report)")" "$counters"
  fi
}

# check_counters NAME GOT WANT: the box's counters. An answer to the greeting
# after the program's 100 ms wait (Wine, or a VM under emulation, can be that
# slow) brings one more greeting, one handshake and one frame more, and the
# same output: that passes, and says so.
check_counters() {
  local form='^frames=([0-9]+) handshakes=([0-9]+) (.*)$' got want late
  if [[ $2 =~ $form ]] && got=("${BASH_REMATCH[@]:1}") && [[ $3 =~ $form ]] && want=("${BASH_REMATCH[@]:1}") &&
    late=$((got[1] - want[1])) && ((late > 0 && want[1] > 0 && got[0] - late == want[0])) &&
    [ "${got[2]}" = "${want[2]}" ]; then
    pass "$1: box counted $3, and $late greetings more: an answer came late"
  else
    check_equal "$1: box counted $3" "$2" "$3"
  fi
}

# alsa_case NAME TARGET_OPTIONS IMAGE TARGET_STATUS: the unchanged
# program under Wine's own winmm, tarnwick-target on the ALSA sequencer with
# the kit and these options, as a USB device for a usb-NAME. Besides the
# output: the image the target saved, its exit status once stopped, and
# nothing on its standard error.
alsa_case() {
  local name=$1 image=$3 target_status=$4 report=$work/$1.target options where=(--api alsa)
  read -ra options <<<"$2"
  [ "${name#usb-}" = "$name" ] || where=(--usb-gadget dummy_udc.0)
  if ! target_start "$report" "$target" "${where[@]}" --kit "$cases_dir/kits/$midi_kit" --save "$report.image" \
    --timeout 600 "${options[@]}"; then
    fail "$name: tarnwick-target did not get ready: $(cat "$report.err")"
    return 0
  fi
  # The host's driver lists a USB device once it has enumerated it.
  if [ "${where[0]}" = --usb-gadget ] && ! wait_until "$target_pid" 300 grep -qs '"Tarnwick Box"' /proc/asound/seq/clients; then
    fail "$name: the host did not list the USB device"
  fi
  run_case "$name" "$exe" "$midi_kit" Tarnwick_Box.kit WINEDLLOVERRIDES="$base_overrides"
  target_stop
  check "$name: the box holds the expected image ($image)" cmp -s "$work/$image.image" "$report.image"
  if [ "$stopped_status" = "$target_status" ] && [ ! -s "$report.err" ]; then
    pass "$name: tarnwick-target ended with status $target_status"
  else
    fail "$name: tarnwick-target ended with status $stopped_status, not $target_status: $(cat "$report.err")"
    sed 's/^/  target: /' "$report.out"
  fi
}

box="Tarnwick Box"
for group in "$@"; do
  case $group in
  no-ports)
    echo "-- Wine's own winmm, no MIDI ports"
    run_case no-kit "$exe" - -
    run_case sound-kit "$exe" sound.kit Tarnwick_Box.kit
    run_case bad-check "$exe" bad-check.kit Tarnwick_Box.kit
    run_case foreign-name "$exe" sound.kit Other_Device.kit
    run_case folder-named-as-kit "$exe" / Tarnwick_Box.kit
    ;;
  stand-in)
    echo "-- the stand-in winmm, a Tarnwick Box behind its ports"
    stand_in_case clean-update "$box" "" kit "frames=5 handshakes=1 attempts=3 written=3 open=0"
    stand_in_case crc-retry "$box" verdicts=20 kit "frames=7 handshakes=1 attempts=4 written=3 open=0"
    stand_in_case silent-device "$box" silent empty "frames=19 handshakes=0 attempts=0 written=0 open=0"
    stand_in_case foreign-product "$box" handshake=31 empty "frames=1 handshakes=1 attempts=0 written=0 open=0"
    stand_in_case system-port-skip "Microsoft GS Wavetable Synth|$box" "" kit \
      "frames=5 handshakes=1 attempts=3 written=3 open=0"
    # Port 0 is held by another program: the search ends there, port 1 is
    # never tried.
    stand_in_case held-port "!$box|$box" "" - -
    ;;
  midi-services)
    echo "-- the stand-in winmm as Windows 11's MIDI service, a Tarnwick Box behind its ports"
    # Its synth takes output 0: one output port passed over, so two output
    # lines in every run.
    stand_in_case services-clean-update "$box" "" kit "frames=5 handshakes=1 attempts=3 written=3 open=0" midi-services
    stand_in_case services-crc-retry "$box" verdicts=20 kit "frames=7 handshakes=1 attempts=4 written=3 open=0" \
      midi-services
    stand_in_case services-silent-device "$box" silent empty "frames=19 handshakes=0 attempts=0 written=0 open=0" \
      midi-services
    # The cable pulled after the second record: the next send times out.
    stand_in_case services-unplugged-in-transfer "$box" fail-after=4 two-records \
      "frames=5 handshakes=1 attempts=2 written=2 open=0" midi-services
    # Answers of 260 bytes come in two buffers, the second all 0x1A data
    # bytes: the first record's refusal still counts as one, so the output
    # is that of the CRC retry.
    stand_in_case services-long-reply "$box" long-replies=260:1A,verdicts=20 kit \
      "frames=7 handshakes=1 attempts=4 written=3 open=0" midi-services
    # The service's loopback ports come first: the program takes loopback A
    # (input 0, output 1), whose frames go out on loopback B, and hears
    # nothing.
    stand_in_case services-loopback-first "~Default App Loopback (A)|~Default App Loopback (B)|$box" "" empty \
      "frames=0 handshakes=0 attempts=0 written=0 open=0" midi-services
    # The service before its fix for 32-bit programs: the 32-bit program's
    # first send fails, the 64-bit one updates as on a fixed service.
    if [ "${WINEARCH:-win32}" = win64 ]; then
      stand_in_case unfixed-services-clean-update "$box" "" kit "frames=5 handshakes=1 attempts=3 written=3 open=0" \
        midi-services-unfixed
    else
      stand_in_case services-unfixed-32-bit "$box" "" empty "frames=0 handshakes=0 attempts=0 written=0 open=0" \
        midi-services-unfixed
    fi
    ;;
  alsa)
    echo "-- Wine's own winmm over the ALSA sequencer, tarnwick-target as the box"
    # The same updates as with the stand-in, so the same outputs.
    alsa_case alsa-clean-update "" kit 0
    alsa_case alsa-crc-retry "--verdicts 20" kit 0
    alsa_case alsa-foreign-product "--handshake-code 42" empty 1
    ;;
  usb)
    echo "-- Wine's own winmm over the ALSA sequencer, tarnwick-target a USB MIDI device"
    alsa_case usb-clean-update "" kit 0
    alsa_case usb-crc-retry "--verdicts 20" kit 0
    # The cable pulled right after the second record was written.
    alsa_case usb-unplugged-in-transfer "--unplug-after 2" two-records 1
    ;;
  *)
    fail "unknown group $group"
    ;;
  esac
done

checks_summary wine
