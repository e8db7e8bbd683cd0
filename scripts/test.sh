#!/usr/bin/env bash
# Runs every test: each step installs what it needs, builds, and runs its tests.
# A failed step does not stop the others.
set -uo pipefail
# shellcheck source-path=SCRIPTDIR source=lib/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"

for step in native windows alsa web packages sanitizers fuzz; do
  echo "== $step"
  started=$SECONDS
  if bash "$repo_root/scripts/test-$step.sh"; then result=pass; else result=fail; fi
  "$result" "step $step ($((SECONDS - started)) s)"
done
checks_summary steps
