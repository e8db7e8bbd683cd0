#!/usr/bin/env bash
# Soak: whole updater runs one after another while two `yes` keep both cores
# busy, for each way a run ends, against a fresh tarnwick-target per run, and
# a table per backend of how the runs ended. Run by hand, never by
# scripts/test.sh: it is slow, and a rare failure is what it is for.
#
#   bash scripts/soak.sh [RUNS]   RUNS runs per backend (default 1000), shared
#                                 among the kinds; a silent device's run waits
#                                 out 20 half seconds, so it gets a smaller share
#   SOAK_BACKENDS="jack alsa"     the backends (default both): jack over a
#                                 private JACK server here; alsa the same loop
#                                 in the VM (lib/vm.sh) on the ALSA sequencer
#                                 with "Midi Through", which the updater opens
#                                 and passes over
#   SOAK_BUILD_DIR=DIR            use the programs built there, building nothing
#                                 (default: build-native, built first)
#
# Nothing else should use JACK here meanwhile: JACK 1.9.21 names a client's
# socket after the client alone, so that a client of the same name on another
# server (a realmidi test, say) now and then makes a run fail to open one.
#
# Per kind: runs, exit status 0, ended by a signal (which), another status,
# output byte for byte as expected, other output; the first other output of a
# kind is shown. Exit status 1 when any run ended otherwise than expected, 2
# when the programs, the server or the VM could not be had.
set -uo pipefail
# shellcheck source-path=SCRIPTDIR source=lib/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"
# shellcheck source-path=SCRIPTDIR source=lib/jack.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/jack.sh"

# kind, share of the runs, tarnwick-target's options
kinds=(success foreign_product restarting silent_device twenty_failures update_complete)
declare -A share=([success]=3 [foreign_product]=3 [restarting]=3 [silent_device]=1 [twenty_failures]=3
  [update_complete]=3)
twenty_crc_errors=$(printf '20,%.0s' {1..20})
declare -A target_args=(
  [success]=""
  [foreign_product]="--handshake-code 42"
  [restarting]="--handshake-code 15"
  [silent_device]="--silent-after 0"
  [twenty_failures]="--verdicts ${twenty_crc_errors%,}"
  [update_complete]="--final-size 48"
)

# --- the loop: on this machine, or inside the VM -------------------------------

# The kit: two records of 24 bytes (20 of firmware each), 48 bytes in all.
make_kit() {
  printf '%b' "$(printf '\\x%02x' $(seq 1 40))" >"$work/firmware.bin"
  "$build_dir/tools/kit/tarnwick-kit" build "$work/firmware.bin" -o "$work/run/Tarnwick_Box.kit" --payload 20 \
    >/dev/null
}

# expected_output KIND PORTS: the updater's whole output, a port line each way
# for the target's port and each system port it passes over.
expected_output() {
  local kind=$1 ports=$2 i
  local line0=$'\r                        \rTransferring.. - 0% done'
  local line50=$'\r                        \rTransferring.. - 50% done'
  local done=$'\rTransferring.. 100% done.  \n' success=$'Target update successfully!\n\n'
  printf 'Quorlane Update V0.3 -> Tarnwick Box System\nOK: File '\''Tarnwick_Box.kit'\'' is open.\n'
  for ((i = 0; i < ports; i++)); do printf 'MIDI IN DEVICE: USB Device\r\n'; done
  for ((i = 0; i < ports; i++)); do printf 'MIDI OUT DEVICE: USB Device\r\n'; done
  case $kind in
  success) printf '%s' "$line0$line50$done$success" ;;
  foreign_product) printf 'Error: The device and the upgrade file is not matched!\n\n' ;;
  restarting) printf 'Please wait the system reset and retry again!\n\n' ;;
  silent_device)
    for ((i = 0; i < 20; i++)); do printf '%s' "$line0"; done
    printf '\nFailed: Target is not responding.\n\n'
    ;;
  twenty_failures)
    for ((i = 0; i < 19; i++)); do printf '%s\n%s\n' "$line0" 'The CRC of the download file is error!'; done
    printf '%s\nError in updating.\n' "$line0"
    ;;
  update_complete) printf '%s' "$line0$line50$done${success}The System is restart, please wait!"$'\n\n' ;;
  esac
  printf 'Press any key to continue . . . \n'
}

# The ALSA sequencer's "Midi Through" ports, which the updater opens first.
through_ports() {
  grep -c 'Port .*"Midi Through' /proc/asound/seq/clients 2>/dev/null || true
}

load_pids=()
start_load() {
  local i
  for i in 1 2; do
    yes >/dev/null &
    load_pids+=($!)
  done
}
stop_load() {
  local pid
  for pid in "${load_pids[@]}"; do stop_process "$pid"; done
  load_pids=()
}

# soak_loop BACKEND RUNS: the runs and their table.
soak_loop() {
  local backend=$1 runs=$2 where kind total_share=0 count ports status signal n failed=0
  case $backend in
  jack) where=(--api jack) ;;
  alsa) where=(--api alsa) ;;
  *) echo "soak: unknown backend $backend" >&2; return 2 ;;
  esac
  work=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-soak.XXXXXX")
  trap 'target_stop; stop_load; jack_stop; rm -rf "$work"' EXIT
  trap 'exit 130' INT TERM HUP
  mkdir "$work/run"
  make_kit || return 2
  if [ "$backend" = jack ]; then
    # The server's own time limit (lib/jack.sh) would end it in the middle
    # of the soak: it is given the soak's whole length.
    export JACK_LIFETIME=$((600 + runs * 30))
    jack_start "tw-soak-$$" "$work/jackd.log" || return 2
    ports=1
  else
    [ -w /dev/snd/seq ] || { echo "soak: no ALSA sequencer here" >&2; return 2; }
    ports=$((1 + $(through_ports)))
  fi
  ulimit -c 0
  start_load
  local -A count_of=()
  local spread=0
  for kind in "${kinds[@]}"; do total_share=$((total_share + share[$kind])); done
  for kind in "${kinds[@]}"; do
    count_of[$kind]=$((runs * share[$kind] / total_share))
    spread=$((spread + count_of[$kind]))
  done
  count_of[success]=$((count_of[success] + runs - spread))
  printf '%s, %s runs, load: 2 x yes; %s\n' "$backend" "$runs" "$(cut -d' ' -f1-3 /proc/loadavg)"
  printf '%-16s %6s %7s %-18s %7s %9s %7s\n' kind runs "exit 0" signal "other" expected wrong
  for kind in "${kinds[@]}"; do
    count=${count_of[$kind]}
    expected_output "$kind" "$ports" >"$work/expected"
    local exit0=0 other=0 right=0 wrong=0 signals=() shown=0
    declare -A by_signal=()
    for ((n = 0; n < count; n++)); do
      # shellcheck disable=SC2086 # the options are words
      if ! target_start "$work/target" "$build_dir/device/tarnwick-target" "${where[@]}" --abandon-after 0 \
        --timeout 300 ${target_args[$kind]}; then
        # A JACK server can die when a client that crashed held ports: it is
        # started again, and said so.
        if [ "$backend" = jack ] && ! kill -0 "$jack_pid" 2>/dev/null; then
          echo "  $kind, run $((n + 1)): the JACK server had ended; started again" >>"$work/notes"
          jack_stop
          jack_start "tw-soak-$$-$n" "$work/jackd.log" || return 2
          n=$((n - 1))
          continue
        fi
        echo "soak: tarnwick-target did not get ready: $(cat "$work/target.err")" >&2
        return 2
      fi
      (cd "$work/run" && exec timeout -k 5 120 "$build_dir/src/tarnwick-update" </dev/null >"$work/out" 2>"$work/err") \
        2>/dev/null
      status=$?
      target_stop 2>/dev/null
      if [ "$status" -eq 0 ]; then
        exit0=$((exit0 + 1))
      elif [ "$status" -gt 128 ] && [ "$status" -ne 124 ]; then
        signal=$(kill -l $((status - 128)) 2>/dev/null || echo $((status - 128)))
        by_signal[$signal]=$((${by_signal[$signal]:-0} + 1))
      else
        other=$((other + 1))
      fi
      if cmp -s "$work/expected" "$work/out" && [ ! -s "$work/err" ]; then
        right=$((right + 1))
      else
        wrong=$((wrong + 1))
        if [ "$shown" -eq 0 ]; then
          shown=1
          {
            echo "  $kind, run $((n + 1)): status $status; output against the expected:"
            show_difference "$work/expected" "$work/out"
            [ -s "$work/err" ] && sed 's/^/    stderr: /' "$work/err"
          } >>"$work/notes"
        fi
      fi
    done
    signals=()
    for signal in "${!by_signal[@]}"; do signals+=("$signal ${by_signal[$signal]}"); done
    local signal_text=0
    [ ${#signals[@]} -eq 0 ] || signal_text=$(IFS=,; echo "${signals[*]}")
    printf '%-16s %6s %7s %-18s %7s %9s %7s\n' "$kind" "$count" "$exit0" "$signal_text" "$other" "$right" "$wrong"
    unset by_signal
    [ "$wrong" -eq 0 ] && [ "$exit0" -eq "$count" ] || failed=1
  done
  stop_load
  [ -f "$work/notes" ] && cat "$work/notes"
  [ "$backend" = jack ] && echo "  jackd reported $(grep -c XRun "$work/jackd.log") xruns"
  return $failed
}

if [ "${1:-}" = --loop ]; then
  build_dir=$4
  soak_loop "$2" "$3"
  exit $?
fi

# --- the backends --------------------------------------------------------------

runs=${1:-1000}
if ! [[ $runs =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: bash scripts/soak.sh [RUNS]" >&2
  exit 2
fi
if [ -n "${SOAK_BUILD_DIR:-}" ]; then
  build_dir=$(cd "$SOAK_BUILD_DIR" && pwd) || exit 2
else
  quiet_when_present=1 ensure_packages "${build_packages[@]}" || exit 2
  build_dir=$repo_root/build-native
  quiet_step "build: build-native" cmake_build "$build_dir" "tarnwick-update tarnwick-target tarnwick-kit" \
    "${native_options[@]}" || exit 2
fi
echo "machine: $(nproc) cores; programs from $build_dir"
status=0
for backend in ${SOAK_BACKENDS:-jack alsa}; do
  started=$SECONDS
  case $backend in
  jack) bash "${BASH_SOURCE[0]}" --loop jack "$runs" "$build_dir" ;;
  alsa)
    # shellcheck source-path=SCRIPTDIR source=lib/vm.sh
    source "$repo_root/scripts/lib/vm.sh"
    vm_prepare >&2 || exit 2
    vm_run --modules "snd-seq snd-seq-dummy" --timeout $((600 + runs * 30)) -- \
      bash "$repo_root/scripts/soak.sh" --loop alsa "$runs" "$build_dir"
    ;;
  *) echo "soak: unknown backend $backend" >&2; false ;;
  esac
  result=$?
  [ "$result" -gt 2 ] && result=2
  [ "$result" -gt "$status" ] && status=$result
  echo "  ($((SECONDS - started)) s)"
done
exit $status
