#!/usr/bin/env bash
# A picture of the page after a successful update: the page in headless
# Chromium in the VM (lib/vm.sh), an 8 KiB kit sent to tarnwick-target on
# the ALSA sequencer, the page captured at the key-press pause. Writes
# build-web/screenshot.png (or the path given) and says where.
#
# web-screenshot.sh --in-vm is the part that runs in the VM; it writes the
# picture to standard output in base64, as the VM's folders go with it.
set -uo pipefail
# shellcheck source-path=SCRIPTDIR source=lib/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"
# shellcheck source-path=SCRIPTDIR source=lib/browser.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/browser.sh"

native_dir=$repo_root/build-native

if [ "${1:-}" = --in-vm ]; then
  work=$(mktemp -d /tmp/tarnwick-screenshot.XXXXXX)
  trap 'target_stop; browser_stop; rm -rf "$work"' EXIT
  kit=$work/Tarnwick_Box.kit
  head -c 8192 "$native_dir/src/tarnwick-update" >"$work/firmware.bin"
  "$native_dir/tools/kit/tarnwick-kit" build "$work/firmware.bin" -o "$kit" >/dev/null || exit 1
  browser_start "$web_dir/page" "$work/browser.log" >&2 || exit 1
  # Frames held back for long under TCG must not make the box give up a record.
  target_start "$work/target" "$native_dir/device/tarnwick-target" --api alsa --abandon-after 0 --kit "$kit" \
    --timeout 600 || exit 1
  browser_run --kit "$kit" --screenshot "$work/page.png" >"$work/page.out" || exit 1
  grep -q 'Target update successfully!' "$work/page.out" || { echo "the update did not succeed:" >&2; cat "$work/page.out" >&2; exit 1; }
  base64 "$work/page.png"
  exit
fi

# shellcheck source-path=SCRIPTDIR source=lib/vm.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/vm.sh"
picture=${1:-$web_dir/screenshot.png}
ensure_packages "${build_packages[@]}" emscripten chromium python3 || exit 1
quiet_step "build: build-native" cmake_build "$native_dir" "tarnwick-update tarnwick-target tarnwick-kit" \
  "${native_options[@]}" || exit 1
quiet_step "build: build-web" web_build || exit 1
vm_prepare || exit 1
log=$(mktemp /tmp/tarnwick-screenshot.XXXXXX)
if vm_run --modules "snd-seq snd-seq-dummy" --timeout 1200 -- bash "$repo_root/scripts/web-screenshot.sh" --in-vm \
  >"$log.b64" 2>"$log" && base64 -d "$log.b64" >"$picture"; then
  grep '^browser-session: ready: ' "$log"
  echo "screenshot: $picture"
  rm -f "$log" "$log.b64"
else
  echo "screenshot: none; the VM's log, $log:"
  cat "$log"
  rm -f "$log.b64"
  exit 1
fi
