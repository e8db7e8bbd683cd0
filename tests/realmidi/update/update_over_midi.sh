#!/usr/bin/env bash
# The real updater against tarnwick-target, the two programs meeting only over
# a real MIDI system. For one case of the table below: start the target, run
# tarnwick-update in a fresh folder with the case's kit and standard input
# from /dev/null, then compare the updater's whole output byte for byte and
# the image the target kept with the kit.
#
#   update_over_midi.sh BACKEND UPDATER TARGET JACK_HELPERS CASE...
#
# BACKEND is where they meet:
#   jack     a private JACK server with the dummy backend, started per case;
#   alsa     the ALSA sequencer, the target's ports being user clients;
#   rawmidi  the ALSA sequencer, the target speaking through the kernel raw
#            MIDI device of snd-virmidi whose client the updater takes first,
#            as it takes a USB MIDI device's.
# The last two need a kernel with those modules (scripts/test-alsa.sh boots one).
#
# Exit status 0: passed, 1: failed, 77: skipped (CTest's SKIP_RETURN_CODE).
# Given several cases, each runs as a process of its own, one verdict line
# each, then a line "N passed, N failed, N skipped"; the status is 1 if any
# failed.
#
# The updater numbers the ALSA sequencer's ports before JACK's. "Midi Through"
# ports are the system's own: the updater opens each, prints its port line and
# passes over it, so the expected output gets one more line per such port in
# each direction. Any other ALSA client could hold a port that comes before
# the target's; the case is skipped then.
set -uo pipefail

backend=$1
updater=$(realpath "$2")
target=$(realpath "$3")
helpers=$4
shift 4
# shellcheck source=../../../scripts/lib/jack.sh
source "$helpers"

if [ $# -gt 1 ]; then
  passed=0 failed=0 skipped=0
  for case_name in "$@"; do
    output=$(bash "${BASH_SOURCE[0]}" "$backend" "$updater" "$target" "$helpers" "$case_name" 2>&1)
    status=$?
    echo "$output"
    case $status in
    0) passed=$((passed + 1)) ;;
    77) skipped=$((skipped + 1)) ;;
    *) failed=$((failed + 1)); echo "FAIL: $backend $case_name" ;;
    esac
  done
  echo "$passed passed, $failed failed, $skipped skipped"
  [ "$failed" -eq 0 ]
  exit
fi
case_name=$1
started=$SECONDS

skip() {
  echo "SKIP: $backend $case_name: $*"
  exit 77
}
fail() {
  echo "FAIL: $*"
  exit 1
}

work=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-realmidi.XXXXXX") || fail "no temporary folder"
target_pid=
cleanup() {
  stop_process "$target_pid"
  jack_stop
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# --- the kit ----------------------------------------------------------------

kit_bytes=()

# record_of SIZE SEED: appends a sound record of SIZE bytes in all (SIZE - 4
# payload bytes), the payload spread over 0x00..0xFF so that bytes above 0x7F
# travel too.
record_of() {
  local size=$1 seed=$2 n=$(($1 - 2)) sum=0 byte i
  kit_bytes+=($((n >> 8)) $((n & 0xFF)))
  for ((i = 0; i < size - 4; i++)); do
    byte=$(((i * 37 + seed * 11 + 5) & 0xFF))
    sum=$((sum + byte))
    kit_bytes+=("$byte")
  done
  local check=$(((0x10000 - (sum & 0xFFFF)) & 0xFFFF))
  kit_bytes+=($((check & 0xFF)) $((check >> 8)))
}

# The kit as text (pairs, 16 to a line, CR LF) and as raw bytes. One printf
# each, as a byte at a time takes minutes in a VM without acceleration.
write_kit() {
  local text=$1 raw=$2 rest=$((${#kit_bytes[@]} % 16)) line escapes
  local whole=$((${#kit_bytes[@]} - rest)) sixteen='%02X %02X %02X %02X %02X %02X %02X %02X'
  : >"$text"
  # shellcheck disable=SC2059 # the format is ours: sixteen pairs to a line
  ((whole == 0)) || printf "$sixteen $sixteen\\r\\n" "${kit_bytes[@]:0:whole}" >>"$text"
  if ((rest > 0)); then
    printf -v line '%02X ' "${kit_bytes[@]:whole}"
    printf '%s\r\n' "${line% }" >>"$text"
  fi
  printf -v escapes '\\x%02x' "${kit_bytes[@]}"
  printf '%b' "$escapes" >"$raw"
}

# The sizes of the records in kit_bytes, in order.
record_sizes() {
  local offset=0 size
  sizes=()
  while ((offset < ${#kit_bytes[@]})); do
    size=$((kit_bytes[offset] * 256 + kit_bytes[offset + 1] + 2))
    sizes+=("$size")
    offset=$((offset + size))
  done
}

# --- the expected output ----------------------------------------------------

expected=
glyphs='--\\||//'
spinner=0
sent=0

# say TEXT: TEXT with its backslash escapes (\n, \r) turned into the bytes.
say() {
  local text
  text=$(printf '%b' "$1" && printf x)
  expected+=${text%x}
}

# One redraw of the progress line, as the updater draws it for a record.
progress() {
  local percent=$((sent * 100 / ${#kit_bytes[@]}))
  expected+=$'\r                        \r'"Transferring.. ${glyphs:spinner:1} ${percent}% done"
  spinner=$(((spinner + 1) % 8))
}
accepted() { sent=$((sent + $1)); }
# A verdict other than 1A: the same record is drawn again with the same glyph.
refused() {
  spinner=$(((spinner + 7) % 8))
  say "$1"
}

port_lines() {
  local through=0 i
  if [ -e /dev/snd/seq ] && [ -r /proc/asound/seq/clients ]; then
    through=$(grep -c 'Port .*"Midi Through' /proc/asound/seq/clients)
  fi
  for ((i = 0; i <= through; i++)); do say 'MIDI IN DEVICE: USB Device\r\n'; done
  for ((i = 0; i <= through; i++)); do say 'MIDI OUT DEVICE: USB Device\r\n'; done
}

kit_name=Tarnwick_Box_realmidi.kit
opening() {
  say 'Quorlane Update V0.3 -> Tarnwick Box System\n'
  say "OK: File '$kit_name' is open.\\n"
  port_lines
}
pause='Press any key to continue . . . \n'
success_end() { say "\\rTransferring.. 100% done.  \\nTarget update successfully!\\n\\n$pause"; }

# --- the cases --------------------------------------------------------------

target_args=()
target_status=0
target_err= # what tarnwick-target writes to standard error
expect_image=kit # the target keeps the whole kit, or nothing ("empty")

# Records of 4 (one frame of 8 characters), 23 (one full frame), 24 (a full
# frame and one of 2 characters), 46 and 47 bytes, a longer one, and enough of
# them for the spinner to come round again.
mixed_kit() {
  record_of 4 1
  record_of 23 2
  record_of 24 3
  record_of 46 4
  record_of 47 5
  record_of 130 6
  record_of 9 7
  record_of 64 8
  record_of 23 9
  record_of 30 10
}

case $case_name in
clean)
  mixed_kit
  record_sizes
  opening
  for size in "${sizes[@]}"; do
    progress
    accepted "$size"
  done
  success_end
  ;;
crc_retry)
  # The second record is refused twice with 0x20 (CRC error), then accepted.
  target_args=(--verdicts '1A,20,20')
  record_of 24 1
  record_of 47 2
  record_of 12 3
  record_sizes
  opening
  progress
  accepted "${sizes[0]}"
  progress
  refused '\nThe CRC of the download file is error!\n'
  progress
  refused '\nThe CRC of the download file is error!\n'
  progress
  accepted "${sizes[1]}"
  progress
  accepted "${sizes[2]}"
  success_end
  ;;
late_and_lost_reply)
  # Every answer comes 10 ms late, and the second record's is lost: the
  # updater waits out its half second and sends the record again, silently;
  # the box knows the resend and keeps the record once.
  target_args=(--latency 10 --no-reply 2)
  record_of 24 1
  record_of 47 2
  record_of 12 3
  record_sizes
  opening
  progress
  accepted "${sizes[0]}"
  progress
  refused ''
  progress
  accepted "${sizes[1]}"
  progress
  accepted "${sizes[2]}"
  success_end
  ;;
slow_greeting)
  # Every answer comes 150 ms late, after the updater's 100 ms wait for the
  # greeting's answer: greeted again, the box answers both greetings, and
  # the second answer comes while the first record waits for its verdict.
  # The last record is refused once, which must show; the box ends with the
  # whole kit.
  target_args=(--latency 150 --verdicts '1A,1A,1A,20')
  target_err="tarnwick-target: warning: answers 150 ms late come after the updater's 100 ms wait for an answer to \
its greeting: it greets again, and passes over the answers that come late"
  record_of 24 1
  record_of 47 2
  record_of 12 3
  record_of 30 4
  record_sizes
  opening
  for size in "${sizes[@]:0:3}"; do
    progress
    accepted "$size"
  done
  progress
  refused '\nThe CRC of the download file is error!\n'
  progress
  accepted "${sizes[3]}"
  success_end
  ;;
foreign_product)
  # Another product answers the handshake: nothing is sent.
  target_args=(--handshake-code 42)
  target_status=1
  expect_image=empty
  record_of 24 1
  opening
  say "Error: The device and the upgrade file is not matched!\\n\\n$pause"
  ;;
restarting)
  # The box answers the handshake with 0x15: it is restarting, nothing is sent.
  target_args=(--handshake-code 15)
  target_status=1
  expect_image=empty
  record_of 24 1
  opening
  say "Please wait the system reset and retry again!\\n\\n$pause"
  ;;
silent_device)
  # The box answers the handshake, then nothing: each of the 20 attempts at
  # the first record waits out its half second, the last one gives up.
  target_args=(--silent-after 0)
  target_status=1
  expect_image=empty
  record_of 24 1
  opening
  for ((attempt = 1; attempt < 20; attempt++)); do
    progress
    refused ''
  done
  progress
  say "\\nFailed: Target is not responding.\\n\\n$pause"
  ;;
largest_kit)
  # The largest kit tarnwick-kit builds with its default 256-byte payloads:
  # 252 whole records and one of the 15 bytes left, 65,535 bytes in all.
  for ((r = 1; r <= 252; r++)); do record_of 260 "$r"; done
  record_of 15 253
  record_sizes
  opening
  for size in "${sizes[@]}"; do
    progress
    accepted "$size"
  done
  success_end
  ;;
update_complete)
  # The last record is answered 0x77: the box has all of it and restarts.
  mixed_kit
  record_sizes
  target_args=(--final-size "${#kit_bytes[@]}")
  opening
  for size in "${sizes[@]}"; do
    progress
    accepted "$size"
  done
  say '\rTransferring.. 100% done.  \nTarget update successfully!\n\nThe System is restart, please wait!\n\n'
  say "$pause"
  ;;
no_server)
  # Without a server under its name the target fails in words and starts
  # none: a JACK client must never start a server as a side effect. The
  # --save file it made at its start is not left behind.
  export JACK_DEFAULT_SERVER="tw-realmidi-none-$$"
  "$target" --api jack --save "$work/image.bin" >"$work/target.out" 2>"$work/target.err" </dev/null
  status=$?
  [ "$status" -eq 1 ] || fail "tarnwick-target ended with status $status, not 1"
  [ ! -s "$work/target.out" ] || fail "tarnwick-target wrote to standard output: $(cat "$work/target.out")"
  grep -q "^tarnwick-target: error: no JACK server is running under the name '$JACK_DEFAULT_SERVER'" \
    "$work/target.err" || fail "no error message: $(cat "$work/target.err")"
  ! jack_lsp >/dev/null 2>&1 || fail "a JACK server named $JACK_DEFAULT_SERVER is running"
  [ ! -e "$work/image.bin" ] || fail "tarnwick-target left its --save file behind"
  echo "PASS: $backend $case_name"
  exit 0
  ;;
refused_at_start)
  # What the target refuses before it opens any port, so before it needs a
  # server: a --save file it cannot write and a reference kit the updater
  # would not send. --version needs no port either.
  export JACK_DEFAULT_SERVER="tw-realmidi-none-$$"
  printf '00 05 01 02 03 FA FF 00 04 7F 81 01 FF' >"$work/bad.kit"
  error='tarnwick-target: error:'
  while IFS='|' read -r want_status want_out want_err args; do
    read -ra words <<<"$args"
    "$target" "${words[@]}" >"$work/target.out" 2>"$work/target.err" </dev/null
    status=$?
    # shellcheck disable=SC2053 # the expected output may be a pattern
    if [ "$status" != "$want_status" ] || [[ $(cat "$work/target.out") != $want_out ]] ||
      [ "$(cat "$work/target.err")" != "$want_err" ]; then
      fail "tarnwick-target $args: status $status, output '$(cat "$work/target.out")', errors '$(cat "$work/target.err")'"
    fi
  done <<CASES
1||$error cannot write '$work/none/image.bin': No such file or directory|--api jack --save $work/none/image.bin
1||$error '$work/bad.kit' is not a kit the updater would send: the record at offset 7 is not sound|--api jack --kit $work/bad.kit --save $work/image.bin
0|tarnwick-target [0-9]*.[0-9]*.[0-9]*||--version
CASES
  [ ! -e "$work/image.bin" ] || fail "tarnwick-target made its --save file though it refused the kit"
  echo "PASS: $backend $case_name"
  exit 0
  ;;
*)
  fail "unknown case '$case_name'"
  ;;
esac

# --- the run ----------------------------------------------------------------

# The raw MIDI device behind the first sequencer client that is not the
# system's own, when that client is one of snd-virmidi's: the one whose ports
# the updater takes.
first_virmidi_device() {
  local client
  [ -r /proc/asound/seq/clients ] || return 1
  client=$(grep -E '^Client +[0-9]' /proc/asound/seq/clients | grep -v -e '"System"' -e '"Midi Through"' | head -n 1)
  [[ $client =~ \"Virtual\ Raw\ MIDI\ ([0-9]+)-([0-9]+)\" ]] || return 1
  echo "/dev/snd/midiC${BASH_REMATCH[1]}D${BASH_REMATCH[2]}"
}

case $backend in
jack)
  command -v jackd >/dev/null || skip "jackd is not installed (Debian package jackd2)"
  alsa_has_other_clients && skip "the ALSA sequencer has clients of its own, whose ports the updater would take first"
  target_where=(--api jack)
  ;;
alsa)
  [ -w /dev/snd/seq ] || skip "no ALSA sequencer here (/dev/snd/seq); scripts/test-alsa.sh runs these cases in a VM"
  alsa_has_other_clients && skip "the ALSA sequencer has clients of its own, whose ports the updater would take first"
  target_where=(--api alsa)
  ;;
rawmidi)
  device=$(first_virmidi_device) || skip "the updater's first port here is not an snd-virmidi client's"
  target_where=(--rawmidi "$device")
  ;;
*)
  fail "unknown backend '$backend'"
  ;;
esac

# In a ThreadSanitizer build both programs run under it. JACK's ring buffer
# and RtMidi's JACK code share memory between threads without locks, by
# design; their reports are not ours.
printf 'race:libjack.so.0\nrace:librtmidi.so.6\n' >"$work/tsan.supp"
export TSAN_OPTIONS="${TSAN_OPTIONS:+$TSAN_OPTIONS:}suppressions=$work/tsan.supp"

mkdir "$work/run"
write_kit "$work/run/$kit_name" "$work/kit.bin"
printf '%s' "$expected" >"$work/expected.out"

if [ "$backend" = jack ]; then
  jack_start "tw-realmidi-$case_name-$$" "$work/jackd.log" || fail "the private JACK server did not start"
fi

# No frame is lost on these paths, but a busy machine, or a VM without
# acceleration, can hold one back for most of a second: the box waits for
# the rest of a record however long it takes.
"$target" "${target_where[@]}" --abandon-after 0 --kit "$work/run/$kit_name" --save "$work/image.bin" \
  --timeout 300 "${target_args[@]}" >"$work/target.out" 2>"$work/target.err" </dev/null &
target_pid=$!
for ((tries = 0; tries < 300; tries++)); do
  grep -q ' ready: ' "$work/target.out" 2>/dev/null && break
  kill -0 "$target_pid" 2>/dev/null || break
  sleep 0.1
done
grep -q ' ready: ' "$work/target.out" || fail "tarnwick-target did not get ready: $(cat "$work/target.err")"

(cd "$work/run" && timeout -k 5 240 "$updater" </dev/null >"$work/updater.out" 2>"$work/updater.err")
updater_status=$?

stop_process "$target_pid"
target_pid=

problems=0
report() {
  echo "FAIL: $*"
  problems=$((problems + 1))
}
[ "$updater_status" -eq 0 ] || report "tarnwick-update ended with status $updater_status"
if ! cmp -s "$work/expected.out" "$work/updater.out"; then
  # Around the first difference: a whole large kit's output would bury it.
  first=$(cmp "$work/expected.out" "$work/updater.out" 2>&1 | grep -o 'byte [0-9]*' | head -n 1 | cut -d' ' -f2)
  from=$((${first:-1} > 160 ? ${first:-1} - 160 : 0))
  report "tarnwick-update's output differs at byte ${first:-?}; expected, then got (od -c from byte $from):"
  od -c -j "$from" -N 320 "$work/expected.out"
  od -c -j "$from" -N 320 "$work/updater.out"
fi
[ ! -s "$work/updater.err" ] || report "tarnwick-update wrote to standard error: $(cat "$work/updater.err")"
case $expect_image in
kit) cmp -s "$work/kit.bin" "$work/image.bin" || report "the target's image differs from the kit" ;;
empty) if [ ! -f "$work/image.bin" ] || [ -s "$work/image.bin" ]; then report "the target kept bytes it should not have"; fi ;;
esac
[ "$stopped_status" = "$target_status" ] || report "tarnwick-target ended with status $stopped_status, not $target_status"
[ "$(cat "$work/target.err")" = "$target_err" ] ||
  report "tarnwick-target's standard error is not as expected: $(cat "$work/target.err")"

if [ "$problems" -ne 0 ]; then
  echo "--- tarnwick-target's report:"
  cat "$work/target.out"
  exit 1
fi
echo "PASS: $backend $case_name ($(grep -c ' frame ' "$work/target.out") frames, $((SECONDS - started)) s)"
