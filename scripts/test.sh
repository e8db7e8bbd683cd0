#!/usr/bin/env bash
# Runs every test: each step installs what it needs, builds, and runs its tests.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

steps=(native windows alsa packages sanitizers fuzz)
passed=0
failed=0
for step in "${steps[@]}"; do
  script="$here/test-$step.sh"
  [ -f "$script" ] || continue
  echo "== $step"
  if bash "$script"; then
    passed=$((passed + 1))
  else
    echo "== $step failed"
    failed=$((failed + 1))
  fi
done
echo "steps: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
