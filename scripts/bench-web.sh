#!/usr/bin/env bash
# The web build's speed against the native program's, run by hand and never
# by scripts/test.sh, in one boot of the VM (lib/vm.sh) on the ALSA sequencer:
# - the largest kit (65,535 bytes) sent to tarnwick-target, from the start to
#   the line "Target update successfully!": the native updater from its start,
#   the page from its start button, on the same ports, alternately, twice
#   each, then the ratio of the means (goal: at most 1.05), and how long
#   port.send held the page: with every wait exactly its length, the least
#   the page could take;
# - how long each of the program's waits lasts, the page's wait benchmark
#   (?bench=sleep) beside the same waits natively (tarnwick_bench's
#   BM_ProgramWait), in the VM and, first, on this machine.
# Under TCG both run many times slower than on a real machine; the ratio is
# what to read. Exit status 1 when a run failed, 2 when the build did.
#
# bench-web.sh --in-vm is the part that runs in the VM.
set -uo pipefail
# shellcheck source-path=SCRIPTDIR source=lib/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"
# shellcheck source-path=SCRIPTDIR source=lib/browser.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/browser.sh"

build_dir=$repo_root/build-bench
line="Target update successfully!"
# The program's wait after every frame it sends.
pacing_ms=10

# native_ms FOLDER: milliseconds from the updater's start to the line, or a
# word saying why there is none.
native_ms() {
  (cd "$1" && python3 -c '
import subprocess, sys, time
started = time.monotonic()
child = subprocess.Popen([sys.argv[1]], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE)
seen, at = b"", None
while chunk := child.stdout.read1(1 << 16):
    seen += chunk
    if at is None and sys.argv[2].encode() in seen:
        at = time.monotonic()
child.wait(60)
print(f"{(at - started) * 1000:.0f}" if at else "none")' "$build_dir/src/tarnwick-update" "$line")
}

# page_ms TIMELINE: the same from the page's timeline, from its start button,
# then the count of its SysEx sends and how long port.send held the page for
# them in all, in ms.
page_ms() {
  python3 -c '
import json, sys
timeline = json.load(open(sys.argv[1]))
seen, at = "", "none"
for write in timeline["writes"]:
    seen += write["bytes"]
    if sys.argv[2] in seen:
        at = "%.0f" % write["ms"]
        break
print(at, len(timeline["sends"]), "%.0f" % sum(timeline["sends"]))' "$1" "$line"
}

# The ALSA target for the kit, started afresh for each run.
target_for() {
  target_start "$work/target" "$build_dir/device/tarnwick-target" --api alsa --abandon-after 0 --kit "$1" --timeout 600
}

# wait_table: the program's waits, native and in the page (?bench=sleep),
# measured here and now; the browser session must be running.
wait_table() {
  local page native
  page=$(python3 "$browser_driver" bench --socket "$browser_socket" --query bench=sleep --limit 300 || echo none)
  native=$("$build_dir/bench/tarnwick_bench" --benchmark_filter=BM_ProgramWait --benchmark_out="$work/waits.json" \
    --benchmark_out_format=json >/dev/null 2>&1 && cat "$work/waits.json" || echo none)
  python3 "$repo_root/scripts/lib/wait_table.py" "$page" "$native"
}

in_vm() {
  local kit=$work/run/Tarnwick_Box.kit round native page sends send_ms native_all=() page_all=() floor_all=() status=0
  mkdir -p "$work/run"
  head -c 64523 "$build_dir/bench/tarnwick_bench" >"$work/firmware.bin"
  "$build_dir/tools/kit/tarnwick-kit" build "$work/firmware.bin" -o "$kit" >/dev/null || return 1
  browser_start "$web_dir/page" "$work/browser.log" || return 1
  for round in 1 2; do
    target_for "$kit" || { echo "round $round: the target did not start"; status=1; break; }
    native=$(native_ms "$work/run")
    target_stop
    target_for "$kit" || { echo "round $round: the target did not start"; status=1; break; }
    browser_run --kit "$kit" --timeline "$work/timeline.json" >"$work/page.out" || status=1
    read -r page sends send_ms < <(page_ms "$work/timeline.json")
    target_stop
    echo "round $round: native $native ms, page $page ms; the page's $sends sends held it $send_ms ms"
    if ! [[ $native =~ ^[0-9]+$ && $page =~ ^[0-9]+$ ]]; then
      status=1
      continue
    fi
    native_all+=("$native")
    page_all+=("$page")
    floor_all+=("$((sends * pacing_ms + send_ms))")
  done
  if [ ${#page_all[@]} -gt 0 ]; then
    python3 -c 'import sys
n, p, f = [list(map(float, x.split())) for x in sys.argv[1:4]]
mean = lambda x: sum(x) / len(x)
print(f"largest kit to \"{sys.argv[4]}\": native {mean(n):.0f} ms, page {mean(p):.0f} ms,"
      f" ratio {mean(p) / mean(n):.3f} (goal <= 1.05)")
# A send must be over when port.send returns, and no wait may be cut short,
# so no page on this machine can be quicker than this.
print(f"the page, were every pacing wait exactly its length and nothing else took time:"
      f" {mean(f):.0f} ms, ratio {mean(f) / mean(n):.3f}")' \
      "${native_all[*]}" "${page_all[*]}" "${floor_all[*]}" "$line"
  fi
  echo "the program's waits in the VM, in ms:"
  wait_table
  browser_stop
  return "$status"
}

if [ "${1:-}" = --in-vm ]; then
  work=$(mktemp -d /tmp/tarnwick-bench-web.XXXXXX)
  trap 'target_stop; browser_stop; rm -rf "$work"' EXIT
  in_vm
  exit
fi

# shellcheck source-path=SCRIPTDIR source=lib/vm.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/vm.sh"
ensure_packages "${build_packages[@]}" libbenchmark-dev emscripten chromium python3 || exit 2
quiet_step "build: build-bench" cmake_build "$build_dir" "tarnwick_bench tarnwick-update tarnwick-target tarnwick-kit" \
  -DCMAKE_BUILD_TYPE=Release -DTARNWICK_WERROR=ON -DTARNWICK_TESTS=OFF -DTARNWICK_BENCH=ON || exit 2
quiet_step "build: build-web" web_build || exit 2
# The waits also here, outside the VM: emulation slows the browser there far
# more than the native program, and a user's machine is no emulator.
work=$(mktemp -d /tmp/tarnwick-bench-web.XXXXXX)
trap 'browser_stop; rm -rf "$work"' EXIT
browser_start "$web_dir/page" "$work/browser.log" >/dev/null || exit 1
echo "the program's waits on this machine, in ms (load average $(cut -d' ' -f1-3 /proc/loadavg)):"
wait_table
browser_stop
vm_prepare || exit 2
echo "machine: $(nproc) cores; load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
vm_run --modules "snd-seq snd-seq-dummy" --timeout 1800 -- bash "$repo_root/scripts/bench-web.sh" --in-vm
