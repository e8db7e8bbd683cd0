#!/usr/bin/env bash
# The native build: everything built with warnings as errors, then every test
# (unit, scenario, process, realmidi) run through CTest. Any failure fails the
# step.
set -euo pipefail
# shellcheck source-path=SCRIPTDIR source=lib/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"

ensure_packages "${build_packages[@]}"
quiet_step "build: build-native" cmake_build "$repo_root/build-native" "" "${native_options[@]}"
cd "$repo_root/build-native"
# No test may hang the step: each is stopped after ten minutes at most.
ctest --output-on-failure -j2 --timeout 600
