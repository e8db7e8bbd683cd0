#!/usr/bin/env bash
# The tests again under the sanitizers, each build in a folder of its own:
# - AddressSanitizer with UndefinedBehaviorSanitizer (leaks included) over the
#   unit, scenario and process tests;
# - ThreadSanitizer over the scenario tests and the realmidi tests: the MIDI
#   layer over JACK, and of the update cases over JACK only the smallest one,
#   the sanitized updater against the sanitized target. The others stay out:
#   their timing (late and lost replies, long kits) is set for a program that
#   runs at full speed.
# Nothing recovers from a report, and every report is written to a log folder
# that is checked after the tests: a report from a program that a test starts
# (the built tarnwick-update) fails the step even when that test does not look
# at the exit status. Built with clang: GCC's UndefinedBehaviorSanitizer
# writes its reports to standard error only, never to the log folder.
set -euo pipefail
# shellcheck source-path=SCRIPTDIR source=lib/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"

# Node runs the web page's console tests, which would otherwise be skipped.
ensure_packages "${build_packages[@]}" clang libclang-rt-14-dev nodejs

# build_and_test NAME SANITIZERS CTEST_LABELS [TESTS_LEFT_OUT]: one build in
# build-NAME and its tests, one check.
build_and_test() {
  local name=$1 sanitizers=$2 labels=$3 excluded=${4:-}
  local build_dir=$repo_root/build-$name started=$SECONDS status=0
  local logs=$build_dir/sanitizer-logs
  echo "-- $name: -fsanitize=$sanitizers, tests labelled $labels"
  if ! quiet_step "build: build-$name" cmake_build "$build_dir" "" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE= \
    -DCMAKE_CXX_FLAGS="-O1" -DTARNWICK_SANITIZE="$sanitizers"; then
    fail "$name: the build failed"
    return 0
  fi
  rm -rf "$logs"
  mkdir -p "$logs"
  (
    cd "$build_dir"
    export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:log_path=$logs/asan"
    export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:log_path=$logs/ubsan"
    export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:log_path=$logs/tsan"
    # No test may hang the step: each is stopped after ten minutes at most.
    ctest_counted "-- $name" "" --output-on-failure -j2 --timeout 600 -L "$labels" ${excluded:+-E "$excluded"}
  ) || status=1
  if compgen -G "$logs/*" >/dev/null; then
    echo "-- $name: sanitizer reports:"
    cat "$logs"/*
    status=1
  fi
  if [ "$status" -eq 0 ]; then
    pass "$name: no test failed, no report ($((SECONDS - started)) s)"
  else
    fail "$name ($((SECONDS - started)) s)"
  fi
}

build_and_test sanitize-address address,undefined 'unit|scenario|process'
build_and_test sanitize-thread thread 'scenario|realmidi' '^realmidi\.update\.(TargetOverJack|Case)[./]'
checks_summary sanitizers
