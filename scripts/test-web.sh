#!/usr/bin/env bash
# The updater's web build: its page in headless Chromium over Web MIDI, in a
# VM of our own (lib/vm.sh) on the ALSA sequencer, against tarnwick-target.
# The update cases of tests/realmidi run with the page as the updater, driven
# as a user drives it by a browser session (tests/web/browser_session.py):
# the same rows, texts and checks as the native program's, one Chromium for
# the cases of a boot, as it takes a minute or more to start there:
# - with the target's ports ALSA user clients, "Midi Through" beside them;
# - with the target a kernel card's raw MIDI port (snd-virmidi), udev running
#   as on a desktop, without which Chromium lists none of the ports.
# Then the web zip package's contents against the page's files.
# One line per case, then "web: N passed, N failed"; a case that did not run
# is a failure.
#
# test-web.sh --in-vm BACKEND CASE... is the part that runs in the VM.
set -uo pipefail
# shellcheck source-path=SCRIPTDIR source=lib/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"
# shellcheck source-path=SCRIPTDIR source=lib/browser.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/browser.sh"

native_dir=$repo_root/build-native
tests=$native_dir/tests/realmidi/realmidi_tests
all_cases=(clean crc_retry late_and_lost_reply slow_greeting foreign_product restarting silent_device
  silent_after_three twenty_failures update_complete largest_kit)

# In the VM: the session, the cases, the session ended; the tests' status.
if [ "${1:-}" = --in-vm ]; then
  backend=$2
  shift 2
  status=0
  if [ "$backend" = rawmidi ]; then udev_start || exit 1; fi
  if browser_start "$web_dir/page" /tmp/browser-session.log; then
    filter=$(printf 'Case/UpdateOverMidi.Runs/%s:' "$@")
    TARNWICK_REALMIDI_BACKEND=$backend TARNWICK_WEB_SESSION=$browser_socket TARNWICK_WEB_DRIVER=$browser_driver \
      "$tests" --gtest_filter="${filter%:}" || status=$?
  else
    status=1
  fi
  browser_stop
  udev_stop
  exit "$status"
fi

# shellcheck source-path=SCRIPTDIR source=lib/vm.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/vm.sh"
work=$(mktemp -d /tmp/tarnwick-web-step.XXXXXX)
trap 'rm -rf "$work"' EXIT

# in_vm MODULES BACKEND CASE...: one boot, one browser, the cases one after
# another, one line each. A case the VM could not run, or skipped, counts as
# failed; the whole log is shown then.
in_vm() {
  local modules=$1 backend=$2 log=$work/cases.log started=$SECONDS status case_name failed_before=$checks_failed
  shift 2
  echo "-- the page, $backend, modules: $modules"
  vm_run --modules "$modules" --timeout 2400 -- bash "$repo_root/scripts/test-web.sh" --in-vm "$backend" "$@" \
    >"$log" 2>&1
  status=$?
  for case_name in "$@"; do
    check "page $backend $case_name" grep -q "^\[       OK \] Case/UpdateOverMidi.Runs/$case_name " "$log"
  done
  [ "$status" -lt 124 ] || fail "page $backend: the VM ended with status $status"
  if [ "$checks_failed" -eq "$failed_before" ]; then grep -E '^(vm(_run)?|browser-session): ' "$log"; else cat "$log"; fi
  echo "   ($((SECONDS - started)) s)"
}

# The zip holds the page's files, each once, in one top folder: all that the
# build put beside the page but the wait benchmark's program, and the licence.
zip_holds_the_page() {
  local zips listed
  echo "-- the web zip package"
  if ! logged "$work/cpack.log" cpack -G ZIP --config "$web_dir/CPackConfig.cmake" -B "$work/package"; then
    fail "web zip: cpack failed"
    return
  fi
  zips=("$work"/package/*.zip)
  if [ ${#zips[@]} -ne 1 ] || [ ! -f "${zips[0]}" ]; then
    fail "web zip: cpack made ${#zips[@]} zip files, not one: ${zips[*]}"
    return
  fi
  listed=$(python3 -c 'import sys, zipfile
names = [n for n in zipfile.ZipFile(sys.argv[1]).namelist() if not n.endswith("/")]
tops = {n.split("/")[0] for n in names}
print("one top folder" if len(tops) == 1 and all("/" in n for n in names) else "top: " + " ".join(sorted(tops)))
print("\n".join(sorted(n.split("/", 1)[-1] for n in names)))' "${zips[0]}")
  check_equal "web zip $(basename "${zips[0]}"): the page's files" "$listed" \
    "one top folder"$'\n'"$({ echo LICENSE; cd "$web_dir/page" && find . -type f ! -name 'tarnwick-web-bench.*' |
      sed 's|^\./||'; } | LC_ALL=C sort)"
}

ensure_packages "${build_packages[@]}" emscripten chromium python3 udev || exit 1
quiet_step "build: build-native" cmake_build "$native_dir" "tarnwick-update tarnwick-target tarnwick-kit realmidi_tests" \
  "${native_options[@]}" || exit 1
quiet_step "build: build-web" web_build || exit 1
vm_prepare || exit 1

in_vm "snd-seq snd-seq-dummy" alsa "${all_cases[@]}"
in_vm "snd-seq snd-seq-dummy snd-virmidi" rawmidi "${all_cases[@]}"
zip_holds_the_page

checks_summary web
