#!/usr/bin/env bash
# The updater on the ALSA sequencer, the way every Linux desktop runs it, in a
# VM of our own (lib/vm.sh), as this machine may have no sequencer. The native
# programs are built here (build-native, as the native step builds them) and
# run in the VM, one boot per set of kernel modules:
# - the update cases (tests/realmidi, the same program as over JACK) against
#   tarnwick-target's ALSA ports, with "Midi Through" (each port line shows
#   twice) and without it;
# - the same cases through a kernel raw MIDI device of snd-virmidi, which the
#   updater finds as a kernel client's port, as it finds a real Tarnwick Box;
# - the same cases with tarnwick-target a USB MIDI gadget on dummy_hcd, bound
#   by snd-usb-audio as a plugged-in Tarnwick Box is, and the cases only USB
#   makes: the cable pulled at the greeting and in the transfer;
# - the demo, which must take its ALSA branch and end in success.
# First the VM runner's own fallback: a KVM that stops the guest, as nested
# KVM does, must give way to TCG within seconds.
# One line per case, then "alsa: N passed, N failed"; any failure fails the step.
set -uo pipefail
# shellcheck source-path=SCRIPTDIR source=lib/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"
# shellcheck source-path=SCRIPTDIR source=lib/vm.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/vm.sh"

build_dir=$repo_root/build-native
tests=$build_dir/tests/realmidi/realmidi_tests
all_cases=(clean crc_retry late_and_lost_reply slow_greeting foreign_product restarting silent_device update_complete
  largest_kit)

work=$(mktemp -d /tmp/tarnwick-alsa-step.XXXXXX)
trap 'rm -rf "$work"' EXIT

ensure_packages "${build_packages[@]}" || exit 1
quiet_step "build: build-native" cmake_build "$build_dir" "tarnwick-update tarnwick-target tarnwick-kit realmidi_tests" \
  "${native_options[@]}" || exit 1
vm_prepare || exit 1

# in_vm MODULES BACKEND CASE...: one boot, the cases run one after another,
# one line each. A case the VM could not run, or skipped though the VM has
# what it needs, counts as failed; the whole log is shown then.
in_vm() {
  local modules=$1 backend=$2 log=$work/cases.log started=$SECONDS status filter case_name failed_before=$checks_failed
  shift 2
  echo "-- $backend, modules: $modules"
  filter=$(printf 'Case/UpdateOverMidi.Runs/%s:' "$@")
  vm_run --modules "$modules" --timeout 900 -- \
    env TARNWICK_REALMIDI_BACKEND="$backend" "$tests" --gtest_filter="${filter%:}" >"$log" 2>&1
  status=$?
  for case_name in "$@"; do
    check "$backend $case_name" grep -q "^\[       OK \] Case/UpdateOverMidi.Runs/$case_name " "$log"
  done
  # Cases that all passed and then hung are a failure too.
  [ "$status" -lt 124 ] || fail "$backend: the VM ended with status $status"
  # A passing boot still shows what the VM said of itself (a second boot).
  if [ "$checks_failed" -eq "$failed_before" ]; then grep -E '^vm(_run)?: ' "$log"; else cat "$log"; fi
  echo "   ($((SECONDS - started)) s)"
}

# The demo as a user starts it, with the programs built here.
demo_in_vm() {
  local log=$work/demo.log started=$SECONDS status end
  echo "-- demo"
  vm_run --modules "snd-seq snd-seq-dummy" --timeout 900 -- \
    env DEMO_BUILD_DIR="$build_dir" bash "$repo_root/scripts/demo.sh" >"$log" 2>&1
  status=$?
  end=$(tail -n 3 "$log")
  if [ "$status" -eq 0 ] && grep -qx '== virtual Tarnwick Box on the ALSA sequencer' "$log" &&
    [ "$end" = $'Target update successfully!\n\nPress any key to continue . . . ' ]; then
    pass "demo on ALSA"
    grep -E '^vm(_run)?: ' "$log"
  else
    cat "$log"
    fail "demo on ALSA (status $status)"
  fi
  echo "   ($((SECONDS - started)) s)"
}

# A QEMU that under KVM reports a stopped guest and runs on, as nested KVM
# does, behind a /dev/kvm that opens, and a machine that has tried nothing yet.
kvm_gives_way() {
  local stub=$work/stub-qemu log=$work/kvm.log started=$SECONDS line status=0
  local want="vm: accelerator tcg (KVM stopped the guest: KVM internal error. Suberror: 1)"
  echo "-- the VM runner, KVM stopping the guest"
  mkdir -p "$stub"
  printf '%s\n' '#!/bin/sh' 'case " $* " in *" -accel kvm "*)' \
    '  echo "KVM internal error. Suberror: 1" >&2; echo "emulation failure" >&2; exec sleep 600 ;;' \
    "esac; exec $(command -v qemu-system-x86_64) \"\$@\"" >"$stub/qemu-system-x86_64"
  chmod 755 "$stub/qemu-system-x86_64"
  : >"$work/kvm"
  PATH=$stub:$PATH TARNWICK_VM_ACCEL='' vm_kvm_device=$work/kvm vm_accel_file=$work/accelerator \
    vm_run -- true 2>"$log" || status=$?
  line=$(grep '^vm: ' "$log")
  if [ "$status" -eq 0 ] && [ "$line" = "$want" ] && [ "$(cut -d' ' -f2 "$work/accelerator")" = tcg ]; then
    pass "KVM stopping the guest: TCG took over and ran the command ($((SECONDS - started)) s)"
  else
    fail "KVM stopping the guest: status $status, the runner said '$line', not '$want':"
    cat "$log"
  fi
}

kvm_gives_way
in_vm "snd-seq snd-seq-dummy" alsa "${all_cases[@]}"
in_vm "snd-seq" alsa clean crc_retry foreign_product
in_vm "snd-seq snd-seq-dummy snd-virmidi" rawmidi "${all_cases[@]}"
in_vm "snd-seq $vm_usb_midi_modules" usb "${all_cases[@]}" unplugged_before_greeting unplugged_in_transfer
demo_in_vm

checks_summary alsa
