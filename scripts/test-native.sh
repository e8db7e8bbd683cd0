#!/usr/bin/env bash
# The native build: everything built with warnings as errors, then every test
# (unit, scenario, process, realmidi) run through CTest, and
# "native: N passed, N failed, N skipped". Any failure fails the step, and so
# does any skip but those of the update cases that only ALSA or USB can run
# (scripts/test-alsa.sh runs them in a VM).
set -euo pipefail
# shellcheck source-path=SCRIPTDIR source=lib/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"

# Node runs the web page's console tests, which would otherwise be skipped.
ensure_packages "${build_packages[@]}" nodejs
quiet_step "build: build-native" cmake_build "$repo_root/build-native" "" "${native_options[@]}"
cd "$repo_root/build-native"
# No test may hang the step: each is stopped after ten minutes at most.
ctest_counted native '^realmidi\.update\.Case/UpdateOverMidi\.Runs/(unplugged_before_greeting|unplugged_in_transfer)$' \
  --output-on-failure -j2 --timeout 600
