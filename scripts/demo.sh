#!/usr/bin/env bash
# Shows the updater at work: builds it, writes a small sample kit into a
# fresh folder, and starts the updater there as a user would. Without a
# Tarnwick Box (or another MIDI device) attached, the run ends at the port
# stage with the missing-port message.
set -euo pipefail
# shellcheck source=lib/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"

ensure_packages "${build_packages[@]}"

build_dir=$repo_root/build-demo
cmake -S "$repo_root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARNWICK_TESTS=OFF >/dev/null
cmake --build "$build_dir" -j2 --target tarnwick-update
updater=$build_dir/src/tarnwick-update

work=$(mktemp -d /tmp/tarnwick-demo.XXXXXX)
trap 'rm -rf "$work"' EXIT

# record BYTE...: one kit line for a record around the given payload bytes:
# the length N (payload + 2) high byte first, the payload, then the check word
# that brings the payload sum to 0 modulo 65,536, low byte first.
record() {
    local n=$(($# + 2)) sum=0 byte line
    line=$(printf '%02X %02X' $((n >> 8)) $((n & 0xFF)))
    for byte in "$@"; do
        sum=$(((sum + byte) & 0xFFFF))
        line+=$(printf ' %02X' "$byte")
    done
    local check=$(((0x10000 - sum) & 0xFFFF))
    printf '%s %02X %02X\r\n' "$line" $((check & 0xFF)) $((check >> 8))
}

# A few records of made-up firmware: one full frame's worth, one just over
# it, and two small ones.
sample=()
for ((i = 0; i < 19; i++)); do sample+=($(((i * 37 + 11) & 0xFF))); done
{
    record 0x01 0x02 0x03
    record "${sample[@]}"
    record "${sample[@]}" 0xC0 0xDE
    record 0x7F 0x81
} >"$work/Tarnwick_Box_demo.kit"

echo "== sample kit: $work/Tarnwick_Box_demo.kit"
cat "$work/Tarnwick_Box_demo.kit"
echo "== tarnwick-update, started in $work"
# The updater waits for a key at the end; without a terminal it goes on at once.
status=0
(cd "$work" && timeout --foreground -k 5 300 "$updater") || status=$?
echo "== exit status $status"
[ "$status" -eq 0 ]
