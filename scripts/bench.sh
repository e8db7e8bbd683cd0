#!/usr/bin/env bash
# The benchmarks, run by hand and never by scripts/test.sh: builds Release in
# its own folder, runs them and prints a summary table, each figure against
# its target, then the same update over real MIDI. Arguments go to the
# benchmark program, for example
#   bash scripts/bench.sh --benchmark_filter=KitReader
#   bash scripts/bench.sh --benchmark_filter=UpdateOverJack   (real MIDI only)
# Exit status 1 when a target was missed, 2 when the build failed.
set -uo pipefail
# shellcheck source-path=SCRIPTDIR source=lib/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"
# shellcheck source-path=SCRIPTDIR source=lib/jack.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/jack.sh"

ensure_packages "${build_packages[@]}" libbenchmark-dev libasound2-dev time || exit 2
build_dir=$repo_root/build-bench
if ! quiet_step "build: build-bench" cmake_build "$build_dir" "tarnwick_bench tarnwick-update tarnwick-target" \
  -DCMAKE_BUILD_TYPE=Release -DTARNWICK_WERROR=ON -DTARNWICK_TESTS=OFF -DTARNWICK_BENCH=ON; then
  echo "bench: the build failed"
  exit 2
fi
bench=$build_dir/bench/tarnwick_bench

cpu_model=$(grep -m1 '^model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')
echo "machine: $(nproc) cores, ${cpu_model:-unknown CPU}; load average before: $(cut -d' ' -f1-3 /proc/loadavg)"

"$bench" "$@"
status=$?

# --- the same update over real MIDI ----------------------------------------
# A private JACK server with the dummy backend, tarnwick-target on it as the
# device answering at once, and the shipped updater in a fresh folder with the
# same largest kit, timed by /usr/bin/time: wall time, CPU time and peak
# memory of the updater's process alone, against the same floor.

measure="update over JACK with tarnwick-target"
row() { printf '%-52s %16s %10s  %s\n' "$@"; }
work=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-bench-jack.XXXXXX")
cleanup() {
  target_stop
  jack_stop
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# failed_row WHY...: the row of a failed update, and why.
failed_row() {
  row "$measure" "failed" "" "NO"
  printf '    %s\n' "$@"
}

# Prints the rows; false when a target was missed or the update failed.
real_stack_rows() {
  mkdir "$work/run"
  local kit=$work/run/Tarnwick_Box.kit frames
  frames=$("$bench" --write-kit="$kit") || return 1
  if ! jack_start "tw-bench-$$" "$work/jackd.log"; then
    failed_row "the private JACK server did not start"
    return 1
  fi
  if ! target_start "$work/target" "$build_dir/device/tarnwick-target" --api jack --kit "$kit" --timeout 300; then
    failed_row "tarnwick-target did not get ready: $(cat "$work/target.err")"
    return 1
  fi
  (cd "$work/run" && timeout -k 5 180 /usr/bin/time -f '%e %U %S %M' -o "$work/time.txt" \
    "$build_dir/src/tarnwick-update" </dev/null >"$work/updater.out" 2>"$work/updater.err")
  local updater_status=$?
  target_stop
  jack_stop
  local xruns
  xruns=$(grep -c 'XRun' "$work/jackd.log")
  if [ "$updater_status" -ne 0 ] || ! grep -q 'Target update successfully!' "$work/updater.out" ||
    [ "$stopped_status" != 0 ]; then
    failed_row "updater status $updater_status, tarnwick-target status $stopped_status (0: it holds the kit);" \
      "the updater's output ends: $(tr '\r' '\n' <"$work/updater.out" | grep -v '^$' | tail -n 2 | head -n 1)" \
      "tarnwick-target:$(grep ' summary: ' "$work/target.out" | sed 's/^ *[0-9.]* / /')" \
      "jackd reported $xruns xruns (a cycle missed: MIDI in it is lost)"
    return 1
  fi
  local wall user sys peak met=0
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
    }' || met=1
  echo "    jackd reported $xruns xruns"
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
  row "$measure" "not run"
fi
cleanup
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
exit $status
