#!/usr/bin/env bash
# Shows the updater at work without a Tarnwick Box: builds the updater, the
# virtual box tarnwick-target and the kit tool, makes a sample kit in a fresh
# folder, starts the virtual box (on the ALSA sequencer when the machine has
# one, otherwise on a private JACK server started for the purpose) and runs a
# whole update there as a user would, the progress line live on the terminal.
# Everything it started is ended on the way out, however it ends.
#
# With DEMO_BUILD_DIR set to a build folder that holds the programs already,
# it installs and builds nothing and runs those (the test VM, whose root is
# read-only, runs the demo so).
set -euo pipefail
# shellcheck source-path=SCRIPTDIR source=lib/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"
# shellcheck source-path=SCRIPTDIR source=lib/jack.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/jack.sh"

if [ -n "${DEMO_BUILD_DIR:-}" ]; then
  build_dir=$DEMO_BUILD_DIR
else
  quiet_when_present=1 ensure_packages "${build_packages[@]}"
  build_dir=$repo_root/build-demo
  cmake_build "$build_dir" "tarnwick-update tarnwick-target tarnwick-kit" -DCMAKE_BUILD_TYPE=Release \
    -DTARNWICK_TESTS=OFF
fi

work=$(mktemp -d /tmp/tarnwick-demo.XXXXXX)
updater_pid=
cleanup() {
  set +e
  stop_process "$updater_pid"
  target_stop
  jack_stop
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

# --- a sample kit -------------------------------------------------------------

# Made-up firmware of 8 KiB, the same every time. Cut into records of 64 bytes
# it makes 128 records of 3 frames each: a few seconds of progress.
firmware_size=8192
payload_size=64
escapes=
for ((i = 0; i < firmware_size; i++)); do
  printf -v escape '\\x%02x' $(((i * 73 + (i >> 7) * 5 + 17) & 0xFF))
  escapes+=$escape
done
printf '%b' "$escapes" >"$work/firmware.bin"
kit=$work/Tarnwick_Box_demo.kit
"$build_dir/tools/kit/tarnwick-kit" build "$work/firmware.bin" -o "$kit" --payload "$payload_size" >/dev/null
rm "$work/firmware.bin"
echo "== sample kit: $kit, $firmware_size bytes of firmware in records of $payload_size"
head -n 2 "$kit"
echo "..."

# --- the virtual Tarnwick Box ---------------------------------------------------

if [ -r /dev/snd/seq ] && [ -w /dev/snd/seq ]; then
  api=alsa
  echo "== virtual Tarnwick Box on the ALSA sequencer"
  # Clients besides the sequencer's own ("System", "Midi Through").
  if grep -E '^Client +[0-9]' /proc/asound/seq/clients 2>/dev/null | grep -qv -e '"System"' -e '"Midi Through"'; then
    echo "   note: other ALSA MIDI clients are present; the updater takes the first port that is not"
    echo "   the system's own, which may be one of theirs rather than the virtual box's"
  fi
else
  api=jack
  server=tarnwick-demo-$$
  echo "== no ALSA sequencer here: virtual Tarnwick Box on a private JACK server ($server)"
  jack_start "$server" "$work/jackd.log"
fi

target_log=$work/target
if ! target_start "$target_log" "$build_dir/device/tarnwick-target" --api "$api" --kit "$kit" --timeout 900; then
  echo "== tarnwick-target did not start:"
  cat "$target_log.out" "$target_log.err"
  exit 1
fi

# --- the update -----------------------------------------------------------------

echo "== tarnwick-update, started in $work"
# The updater waits for a key at the end. On a terminal it runs in the
# foreground, so that the key is the user's and Ctrl-C reaches it. Otherwise
# its input is empty, so the wait ends at once, and it runs as a job of its own
# that the clean-up can end should the script be told to stop.
updater=$build_dir/src/tarnwick-update
status=0
if [ -t 0 ] && [ -t 1 ]; then
  (cd "$work" && timeout --foreground -k 5 900 "$updater") || status=$?
else
  (cd "$work" && exec timeout -k 5 300 "$updater" </dev/null) &
  updater_pid=$!
  wait "$updater_pid" || status=$?
  updater_pid=
fi

target_stop
# The box's own summary only when something went wrong: on success the
# updater's last words stand last.
if [ "$status" -ne 0 ] || [ "$stopped_status" -ne 0 ]; then
  summary=$(grep ' summary: ' "$target_log.out" | sed 's/^ *[0-9.]* summary: //' || true)
  echo "== the virtual box holds: ${summary:-nothing (see its log below)}"
  echo "== the update did not complete (updater status $status, tarnwick-target status $stopped_status); its log:"
  cat "$target_log.out" "$target_log.err"
  exit 1
fi
