#!/usr/bin/env bash
# The native build: everything built with warnings as errors, then every test
# (unit, scenario, process, realmidi) run through CTest. Any failure fails the
# step.
set -euo pipefail
# shellcheck source=lib/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"

ensure_packages "${build_packages[@]}"

build_dir=$repo_root/build-native
cmake -S "$repo_root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNWICK_WERROR=ON
cmake --build "$build_dir" -j2
cd "$build_dir"
# No test may hang the step: each is stopped after ten minutes at most.
ctest --output-on-failure -j2 --timeout 600
