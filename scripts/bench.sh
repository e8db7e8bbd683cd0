#!/usr/bin/env bash
# The benchmarks, run by hand and never by scripts/test.sh: builds Release in
# its own folder, runs them and prints a summary table, each figure against
# its target, then the same update over real MIDI. Arguments go to the
# benchmark program, for example
#   bash scripts/bench.sh --benchmark_filter=KitReader
#   bash scripts/bench.sh --benchmark_filter=UpdateOverJack   (real MIDI only)
# Exit status 1 when a target was missed, 2 when the build failed.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/lib/common.sh"
source "$here/lib/jack.sh"

ensure_packages "${build_packages[@]}" libbenchmark-dev libasound2-dev libjack-jackd2-dev jackd2 time || exit 2

build="$repo_root/build-bench"
log="$build/bench-build.log"
mkdir -p "$build"
build_all() {
  cmake -S "$repo_root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARNWICK_WERROR=ON \
    -DTARNWICK_TESTS=OFF -DTARNWICK_BENCH=ON || return 1
  local targets=(tarnwick_bench tarnwick-update)
  ninja -C "$build" -t targets all | grep -q '^tarnwick-target:' && targets+=(tarnwick-target)
  ninja -C "$build" -j2 "${targets[@]}"
}
if ! build_all >"$log" 2>&1; then
  tail -n 40 "$log"
  echo "bench: the build failed; the whole log is in $log"
  exit 2
fi
bench="$build/bench/tarnwick_bench"
updater="$build/src/tarnwick-update"
target="$build/target/tarnwick-target"

cpu_model=$(grep -m1 '^model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')
echo "machine: $(nproc) cores, ${cpu_model:-unknown CPU}; load average before: $(cut -d' ' -f1-3 /proc/loadavg)"

"$bench" "$@"
status=$?

# --- the same update over real MIDI ----------------------------------------
# A private JACK server with the dummy backend, tarnwick-target on it as the
# device answering at once, and the shipped updater in a fresh folder with the
# same largest kit, timed by /usr/bin/time: wall time, CPU time and peak
# memory of the updater's process alone, against the same floor.

row() { printf '%-52s %16s %10s  %s\n' "$@"; }
work=
target_pid=
cleanup() {
  stop_process "$target_pid"
  target_pid=
  jack_stop
  [ -z "$work" ] || rm -rf "$work"
  work=
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# Prints the rows; false when a target was missed or the update failed.
real_stack_rows() {
  local measure="update over JACK with tarnwick-target"
  if [ ! -x "$target" ]; then
    row "$measure" "skipped"
    echo "    tarnwick-target is not part of this build"
    return 0
  fi
  if alsa_has_other_clients; then
    row "$measure" "skipped"
    echo "    the ALSA sequencer has clients whose ports the updater would take first"
    return 0
  fi
  work=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-bench-jack.XXXXXX") || return 1
  mkdir "$work/run"
  local kit="$work/run/Tarnwick_Box.kit" frames
  frames=$("$bench" --write-kit="$kit") || return 1
  if ! jack_start "tw-bench-$$" "$work/jackd.log"; then
    row "$measure" "failed" "" "NO"
    echo "    the private JACK server did not start"
    return 1
  fi
  "$target" --api jack --kit "$kit" --timeout 300 >"$work/target.out" 2>"$work/target.err" </dev/null &
  target_pid=$!
  local tries
  for ((tries = 0; tries < 100; tries++)); do
    grep -q ' ready: ' "$work/target.out" 2>/dev/null && break
    kill -0 "$target_pid" 2>/dev/null || break
    sleep 0.1
  done
  if ! grep -q ' ready: ' "$work/target.out"; then
    row "$measure" "failed" "" "NO"
    echo "    tarnwick-target did not get ready: $(cat "$work/target.err")"
    return 1
  fi
  (cd "$work/run" && timeout -k 5 180 /usr/bin/time -f '%e %U %S %M' -o "$work/time.txt" \
    "$updater" </dev/null >"$work/updater.out" 2>"$work/updater.err")
  local updater_status=$?
  stop_process "$target_pid"
  target_pid=
  local target_status=$stopped_status
  jack_stop
  if [ "$updater_status" -ne 0 ] || ! grep -q 'Target update successfully!' "$work/updater.out" ||
    [ "$target_status" != 0 ]; then
    row "$measure" "failed" "" "NO"
    echo "    updater status $updater_status, tarnwick-target status $target_status (0: it holds the kit);"
    echo "    the updater's output ends: $(tr '\r' '\n' <"$work/updater.out" | grep -v '^$' | tail -n 2 | head -n 1)"
    echo "    tarnwick-target:$(grep ' summary: ' "$work/target.out" | sed 's/^ *[0-9.]* / /')"
    echo "    jackd reported $(grep -c 'XRun' "$work/jackd.log") xruns (a cycle missed: MIDI in it is lost)"
    return 1
  fi
  local wall user sys peak
  read -r wall user sys peak <"$work/time.txt"
  awk -v wall="$wall" -v user="$user" -v sys="$sys" -v peak="$peak" -v frames="$frames" '
    function row(m, v, t, ok) { printf "%-52s %16s %10s  %s\n", m, v, t, ok }
    BEGIN {
      floor = frames * 0.010
      ratio = wall / floor
      cpu = 100 * (user + sys) / wall
      row("update over JACK: wall time", sprintf("%.2f s", wall), "", "")
      row(sprintf("update over JACK: floor (%d frames x 10 ms)", frames), sprintf("%.3f s", floor), "", "")
      row("update over JACK: wall / floor", sprintf("%.4f", ratio), "<= 1.01", ratio <= 1.01 ? "yes" : "NO")
      row("update over JACK: updater CPU time / wall time", sprintf("%.3f %%", cpu), "<= 1 %", cpu <= 1 ? "yes" : "NO")
      row("update over JACK: updater peak resident memory", sprintf("%d KiB", peak), "", "")
      exit !(ratio <= 1.01 && cpu <= 1)
    }'
  local met=$?
  echo "    jackd reported $(grep -c 'XRun' "$work/jackd.log") xruns"
  return $met
}

# A benchmark filter leaves this row out unless it matches UpdateOverJack.
filter=
for arg in "$@"; do
  case $arg in --benchmark_filter=*) filter=${arg#--benchmark_filter=} ;; esac
done
if [ -z "$filter" ] || [[ UpdateOverJack =~ $filter ]]; then
  real_stack_rows || status=1
else
  row "update over JACK with tarnwick-target" "not run"
fi
cleanup
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
exit $status
