#!/usr/bin/env bash
# A short fixed run of each fuzz target (libFuzzer, under AddressSanitizer and
# UndefinedBehaviorSanitizer), each on a copy of its seed corpus in
# fuzz/corpus/<target>/. Any crash, sanitizer report, hang or invariant
# broken fails the step; the input that did it is kept and its path printed.
#
#   kit       the kit's text reader and record walk, on arbitrary file contents
#   protocol  whole update runs on the simulated platform against a device
#             that misbehaves as the input says
#
# How to run longer: FUZZ_SECONDS sets the time per target (default 60), and
# FUZZ_CORPUS_DIR keeps the grown corpora between runs instead of a fresh
# copy of the seeds each time:
#   FUZZ_SECONDS=3600 FUZZ_CORPUS_DIR=$HOME/tarnwick-corpus scripts/test-fuzz.sh
# Or by hand, several jobs at once, from the repository's root:
#   cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DTARNWICK_FUZZ=ON -DTARNWICK_TESTS=OFF
#   ninja -C build-fuzz kit_fuzzer protocol_fuzzer
#   mkdir -p corpus-kit && cp fuzz/corpus/kit/* corpus-kit/
#   build-fuzz/fuzz/kit_fuzzer -max_len=8192 -entropic_scale_per_exec_time=1 -max_total_time=3600 \
#     -jobs=2 -workers=2 corpus-kit
# A kept input is replayed with: build-fuzz/fuzz/<target>_fuzzer <input file>
set -euo pipefail
# shellcheck source-path=SCRIPTDIR source=lib/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"

ensure_packages "${build_packages[@]}" clang libclang-rt-14-dev

seconds=${FUZZ_SECONDS:-60}
build_dir=$repo_root/build-fuzz
artifacts=$build_dir/artifacts
work=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-fuzz.XXXXXX")
corpora=${FUZZ_CORPUS_DIR:-$work/corpus}
trap 'rm -rf "$work"' EXIT

quiet_step "build: build-fuzz" cmake_build "$build_dir" "kit_fuzzer protocol_fuzzer" -DCMAKE_CXX_COMPILER=clang++ \
  -DTARNWICK_FUZZ=ON -DTARNWICK_TESTS=OFF -DTARNWICK_WERROR=ON

# Per target: the options its inputs need. A kit text across the file
# reader's block edge costs a hundred short ones: time goes by cost. A whole
# run takes milliseconds of real time, so one of ten seconds is a hang.
declare -A options=(
  [kit]="-max_len=8192 -timeout=10 -entropic_scale_per_exec_time=1"
  [protocol]="-max_len=1024 -timeout=10"
)

rm -rf "$artifacts"
mkdir -p "$artifacts"
for target in kit protocol; do
  corpus=$corpora/$target
  mkdir -p "$corpus"
  cp -n "$repo_root/fuzz/corpus/$target/"* "$corpus/"
  log=$work/$target.log
  echo "-- $target: ${seconds} s"
  # shellcheck disable=SC2086 # the options are words
  if (cd "$work" && "$build_dir/fuzz/${target}_fuzzer" ${options[$target]} -max_total_time="$seconds" \
    -print_final_stats=1 -artifact_prefix="$artifacts/$target-" "$corpus" >"$log" 2>&1); then
    grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$log" || true
    grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1 || true
    pass "$target: no findings in ${seconds} s"
  else
    tail -n 60 "$log"
    for kept in "$artifacts/$target"-*; do
      [ ! -e "$kept" ] || echo "kept input: $kept"
    done
    fail "$target: a finding"
  fi
done
checks_summary fuzz
