#!/usr/bin/env bash
# The real updater against tarnwick-target, the two programs meeting only over
# a private JACK server with the dummy backend. For one case of the table
# below: start the server, start the target on it, run tarnwick-update in a
# fresh folder with the case's kit and standard input from /dev/null, then
# compare the updater's whole output byte for byte and the image the target
# kept with the kit.
#
#   update_over_jack.sh CASE UPDATER TARGET JACK_HELPERS
#
# Exit status 0: passed, 1: failed, 77: skipped (CTest's SKIP_RETURN_CODE).
#
# ALSA: the updater numbers the ALSA sequencer's ports before JACK's, and the
# target is told to use JACK, so an ALSA port would be taken instead of it.
# Without /dev/snd/seq (containers, CI) the updater finds no ALSA ports. With
# it, "Midi Through" ports are the system's own: the updater opens each, prints
# its port line and passes over it, so the expected output gets one more line
# per such port in each direction. Any other ALSA client could hold a port
# that comes first; the case is skipped then.
set -uo pipefail

case_name=$1
updater=$(realpath "$2")
target=$(realpath "$3")
# shellcheck source=../../../scripts/lib/jack.sh
source "$4"

skip() {
  echo "SKIP: $*"
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

# record PAYLOAD...: appends one sound record around these payload bytes.
record() {
  local n=$(($# + 2)) sum=0 byte
  kit_bytes+=($((n >> 8)) $((n & 0xFF)))
  for byte in "$@"; do
    sum=$(((sum + byte) & 0xFFFF))
    kit_bytes+=("$byte")
  done
  local check=$(((0x10000 - sum) & 0xFFFF))
  kit_bytes+=($((check & 0xFF)) $((check >> 8)))
}

# record_of SIZE SEED: a record of SIZE bytes in all (SIZE - 4 payload bytes),
# the payload spread over 0x00..0xFF so that bytes above 0x7F travel too.
record_of() {
  local size=$1 seed=$2 payload=() i
  for ((i = 0; i < size - 4; i++)); do payload+=($(((i * 37 + seed * 11 + 5) & 0xFF))); done
  record "${payload[@]}"
}

# The kit as text (pairs, 16 to a line, CR LF) and as raw bytes.
write_kit() {
  local text=$1 raw=$2 i line='' escape escapes=''
  : >"$text"
  for ((i = 0; i < ${#kit_bytes[@]}; i++)); do
    printf -v line '%s%02X' "$line${line:+ }" "${kit_bytes[i]}"
    printf -v escape '\\x%02x' "${kit_bytes[i]}"
    escapes+=$escape
    if (((i + 1) % 16 == 0)); then
      printf '%s\r\n' "$line" >>"$text"
      line=
    fi
  done
  [ -z "$line" ] || printf '%s\r\n' "$line" >>"$text"
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
  echo "PASS: $case_name"
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
  echo "PASS: $case_name"
  exit 0
  ;;
*)
  fail "unknown case '$case_name'"
  ;;
esac

# --- the run ----------------------------------------------------------------

command -v jackd >/dev/null || skip "jackd is not installed (Debian package jackd2)"
alsa_has_other_clients && skip "the ALSA sequencer has clients of its own, whose ports the updater would take first"

# In a ThreadSanitizer build both programs run under it. JACK's ring buffer
# and RtMidi's JACK code share memory between threads without locks, by
# design; their reports are not ours.
printf 'race:libjack.so.0\nrace:librtmidi.so.6\n' >"$work/tsan.supp"
export TSAN_OPTIONS="${TSAN_OPTIONS:+$TSAN_OPTIONS:}suppressions=$work/tsan.supp"

mkdir "$work/run"
write_kit "$work/run/$kit_name" "$work/kit.bin"
printf '%s' "$expected" >"$work/expected.out"

jack_start "tw-realmidi-$case_name-$$" "$work/jackd.log" || fail "the private JACK server did not start"

"$target" --api jack --kit "$work/run/$kit_name" --save "$work/image.bin" --timeout 300 "${target_args[@]}" \
  >"$work/target.out" 2>"$work/target.err" </dev/null &
target_pid=$!
for ((tries = 0; tries < 100; tries++)); do
  grep -q ' ready: ' "$work/target.out" 2>/dev/null && break
  kill -0 "$target_pid" 2>/dev/null || break
  sleep 0.1
done
grep -q ' ready: ' "$work/target.out" || fail "tarnwick-target did not get ready: $(cat "$work/target.err")"

(cd "$work/run" && timeout -k 5 120 "$updater" </dev/null >"$work/updater.out" 2>"$work/updater.err")
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
  report "tarnwick-update's output differs; expected, then got (od -c):"
  od -c "$work/expected.out"
  od -c "$work/updater.out"
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
echo "PASS: $case_name ($(grep -c ' frame ' "$work/target.out") frames over JACK)"
