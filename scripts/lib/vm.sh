# shellcheck shell=bash
# A small virtual machine for what this machine may lack: the ALSA sequencer
# and its kernel MIDI ports, and 32-bit programs. Debian's own kernel runs
# under QEMU with an initramfs of busybox; it mounts this machine's root
# read-only over 9p and runs one command in a chroot of it. Source
# lib/common.sh and this file, then:
#
#   vm_prepare    installs QEMU and busybox, fetches Debian's kernel package
#                 (unpacked into build-vm/, never installed) and builds the
#                 initramfs (nothing of it when the cache is current), then
#                 chooses the accelerator and says which, and why
#   vm_run [--modules "MOD ..."] [--timeout SECONDS] -- COMMAND [ARG...]
#                 boots, loads the modules (with what they depend on), runs
#                 COMMAND as root in a fresh temporary folder (writable), with
#                 standard input from /dev/null and only PATH, HOME=/root and
#                 LANG=C.UTF-8 in its environment. Its output comes back once
#                 it has ended; the exit status is COMMAND's, 124 when the
#                 timeout (default 600 s, boot included) ended it, 125 when
#                 the VM failed (its console and QEMU's log then go to
#                 standard error); a boot that does not reach COMMAND within
#                 vm_boot_limit seconds is tried once more
#
# The accelerator is chosen by trying it: KVM only once a guest has reached
# its command under it since this machine booted, TCG otherwise. A /dev/kvm
# proves nothing: under nested virtualisation KVM may stop every guest at its
# first unusual instruction ("KVM internal error"), with QEMU still running.
# vm_prepare makes the trial and says what it found; a KVM boot that fails
# later gives way to TCG at once, for good. TARNWICK_VM_ACCEL=kvm or tcg forces
# one, without trial or fallback.
#
# Inside, /proc, /sys, the guest's /dev, and tmpfs on /tmp and /dev/shm are
# mounted over the shared root; everything else but the folder is read-only,
# and cached in the guest (a file changed here during a run may look unchanged
# there). The kernel loads no module by itself, so a case sees exactly the
# MIDI ports its modules make. QEMU is stopped by its process id whatever
# happens, and ends on its own once the timeout has passed.

vm_dir=${repo_root:?source lib/common.sh first}/build-vm
# Seconds from starting QEMU to the command: 3 to 9 under TCG when idle or
# loaded, 1 to 3 under KVM.
vm_boot_limit=${vm_boot_limit:-60}
vm_kvm_boot_limit=20
# What the trial found, for this boot of the machine: "BOOT_ID ACCEL REASON".
vm_accel_file=$vm_dir/accelerator
vm_kvm_device=/dev/kvm
# A USB MIDI device on a virtual bus: the device's side (dummy_hcd's
# controller, the gadget framework, its MIDI function) and the host's (the USB
# MIDI driver, the sequencer's client for each MIDI card).
vm_usb_midi_modules="dummy_hcd libcomposite usb_f_midi snd-usb-audio snd-seq-midi"

# The script the guest's kernel starts: modules for 9p, the shared folders,
# the chroot, the command, its exit status, power off. Reads what to do from
# the control folder (tag "control"), where it also leaves the results. Its
# errors go to the console log.
# shellcheck disable=SC2016 # expanded by the guest's shell
vm_init_script='#!/bin/busybox sh
/bin/busybox mkdir -p /proc /sys /dev /sbin /usr/bin /usr/sbin
/bin/busybox --install -s
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
# A module the kernel asks for on its own (the sequencer'"'"'s "Midi Through"
# client, a card'"'"'s sequencer bridge) would add ports no case asked for.
echo > /proc/sys/kernel/modprobe
modprobe -a virtio_pci 9p 9pnet_virtio || exit 1
opts=trans=virtio,version=9p2000.L,msize=262144
root=/host
mkdir -p $root /control /host-tmp
mount -t 9p -o $opts,ro,cache=loose host $root || exit 1
mount -t 9p -o $opts control /control || exit 1
. /control/settings
mount -o bind "$root$kernel_tree/lib/modules" /lib/modules || exit 1
if [ -n "$modules" ]; then modprobe -a $modules || exit 1; fi
mount -t proc proc $root/proc
mount -t sysfs sysfs $root/sys
# USB gadgets are made in configfs, which a desktop'"'"'s init mounts there.
if grep -qw configfs /proc/filesystems; then mount -t configfs configfs $root/sys/kernel/config || exit 1; fi
mount -t devtmpfs devtmpfs $root/dev
mount -o bind,ro $root/tmp /host-tmp
mount -t tmpfs -o mode=1777 tmpfs $root/tmp
# This repository stays visible where it lies under /tmp (a clone there).
case $repo in /tmp/*)
  mkdir -p "$root$repo"
  mount -o bind,ro "/host-tmp/${repo#/tmp/}" "$root$repo" || exit 1
esac
mkdir -p $root/dev/shm
mount -t tmpfs -o mode=1777 tmpfs $root/dev/shm
ln -sfn /proc/self/fd $root/dev/fd
mkdir -p "$root$share" 2>/dev/null
mount -t 9p -o $opts share "$root$share" || exit 1
: >/control/started
chroot $root /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
  HOME=/root LANG=C.UTF-8 /bin/bash -c "$(cat /control/command)" </dev/null >/control/stdout 2>/control/stderr
echo $? >/control/status
sync
poweroff -f
'

# Resolves Debian's kernel metapackage to the image package it stands for.
vm_kernel_package() {
  apt-cache show --no-all-versions linux-image-amd64 2>/dev/null |
    sed -n 's/^Depends: \(linux-image-[^ ,]*\).*/\1/p' | head -n 1
}

# One preparation at a time; runs hold the lock shared, so that the cache is
# never rebuilt under a running VM.
vm_prepare() {
  ensure_packages qemu-system-x86 busybox-static xz-utils
  mkdir -p "$vm_dir"
  (
    flock -w 900 9 || { echo "vm: build-vm/ stayed locked for 15 minutes" >&2; exit 1; }
    vm_prepare_cache
  ) 9>"$vm_dir/lock" || return 1
  vm_choose_accelerator
}

# vm_accelerator: the accelerator of the next boot, vm_accel (kvm or tcg), and
# why, vm_accel_reason: "untried" while KVM is still to show that it runs a
# guest here.
vm_accelerator() {
  local boot_id remembered_boot
  case ${TARNWICK_VM_ACCEL:-} in
  kvm | tcg) vm_accel=$TARNWICK_VM_ACCEL vm_accel_reason="forced by TARNWICK_VM_ACCEL"; return 0 ;;
  '') ;;
  *) echo "vm: TARNWICK_VM_ACCEL is kvm or tcg, not '$TARNWICK_VM_ACCEL'" >&2; return 1 ;;
  esac
  boot_id=$(cat /proc/sys/kernel/random/boot_id)
  if [ -f "$vm_accel_file" ] && read -r remembered_boot vm_accel vm_accel_reason <"$vm_accel_file" &&
    [ "$remembered_boot" = "$boot_id" ]; then
    return 0
  fi
  if [ -w "$vm_kvm_device" ]; then
    vm_accel=kvm vm_accel_reason=untried
  else
    vm_accel=tcg vm_accel_reason="no $vm_kvm_device to open"
  fi
}

# vm_remember_accelerator: keeps vm_accel and its reason for the later boots
# of this machine's boot.
vm_remember_accelerator() {
  echo "$(cat /proc/sys/kernel/random/boot_id) $vm_accel $vm_accel_reason" >"$vm_accel_file.new" &&
    mv "$vm_accel_file.new" "$vm_accel_file"
}

# vm_choose_accelerator: the trial boot where KVM is untried, then one line
# saying which accelerator the boots use, and why.
vm_choose_accelerator() {
  vm_accelerator || return 1
  if [ "$vm_accel_reason" = untried ]; then
    logged "$vm_dir/trial.log" vm_run --timeout 300 -- true || return 1
    vm_accelerator
  fi
  echo "vm: accelerator $vm_accel ($vm_accel_reason)"
}

vm_prepare_cache() {
  local package version kernel_stamp initramfs_stamp
  package=$(vm_kernel_package)
  if [ -z "$package" ]; then
    : >"$vm_dir/apt-update.log"
    apt_update "$vm_dir/apt-update.log"
    package=$(vm_kernel_package)
  fi
  [ -n "$package" ] || { echo "vm: no linux-image-amd64 in the package lists" >&2; return 1; }
  version=$(apt-cache show --no-all-versions "$package" | sed -n 's/^Version: //p' | head -n 1)
  kernel_stamp="$package $version"
  if [ "$(cat "$vm_dir/kernel.stamp" 2>/dev/null)" != "$kernel_stamp" ]; then
    echo "vm: kernel $package $version"
    rm -f "$vm_dir/kernel.stamp" "$vm_dir/initramfs.stamp"
    logged "$vm_dir/kernel.log" vm_fetch_kernel "$package" "$version" || return 1
    echo "$kernel_stamp" >"$vm_dir/kernel.stamp"
  fi
  initramfs_stamp="$kernel_stamp $(dpkg-query -W -f='${Version}' busybox-static) $(echo "$vm_init_script" | sha256sum)"
  if [ "$(cat "$vm_dir/initramfs.stamp" 2>/dev/null)" != "$initramfs_stamp" ]; then
    echo "vm: initramfs"
    logged "$vm_dir/initramfs.log" vm_build_initramfs "${package#linux-image-}" || return 1
    echo "$initramfs_stamp" >"$vm_dir/initramfs.stamp"
  fi
}

# The kernel package unpacked into build-vm/kernel with its module list, and
# the kernel itself uncompressed: QEMU starts that directly, which saves the
# seconds that decompressing takes in an emulated machine.
vm_fetch_kernel() {
  local package=$1 version=$2 deb image offset
  rm -rf "$vm_dir/kernel" "$vm_dir/vmlinux" "$vm_dir"/*.deb
  (cd "$vm_dir" && apt-get -o Acquire::Retries=3 download "$package=$version") || return 1
  deb=$(echo "$vm_dir"/"$package"_*.deb)
  dpkg-deb -x "$deb" "$vm_dir/kernel" || return 1
  rm -f "$deb"
  busybox depmod -b "$vm_dir/kernel" "${package#linux-image-}" || return 1
  image=$vm_dir/kernel/boot/vmlinuz-${package#linux-image-}
  offset=$(LC_ALL=C grep -obUa $'\xfd7zXZ' "$image" | head -n 1 | cut -d: -f1)
  [ -n "$offset" ] || { echo "no xz data in $image"; return 1; }
  # Through a file: xz stops at the stream's end, and the data after it would
  # end tail with SIGPIPE, which a caller's pipefail takes for a failure.
  tail -c +$((offset + 1)) "$image" >"$vm_dir/vmlinux.xz" || return 1
  xz -dc --single-stream "$vm_dir/vmlinux.xz" >"$vm_dir/vmlinux.new" || return 1
  rm -f "$vm_dir/vmlinux.xz"
  [ "$(head -c 4 "$vm_dir/vmlinux.new")" = $'\x7fELF' ] || { echo "$image holds no ELF kernel"; return 1; }
  mv "$vm_dir/vmlinux.new" "$vm_dir/vmlinux"
}

# The initramfs: busybox, the init script, and the modules that reach the
# shared root (9p over virtio PCI), with a module list of their own.
vm_build_initramfs() {
  local version=$1 tree=$vm_dir/initramfs
  local modules_dir=$vm_dir/kernel/lib/modules/$version own=$tree/lib/modules/$version module
  rm -rf "$tree"
  mkdir -p "$tree/bin" "$own" || return 1
  cp /bin/busybox "$tree/bin/busybox" || return 1
  printf '%s' "$vm_init_script" >"$tree/init" && chmod 755 "$tree/init" || return 1
  # modules.dep lists each module with everything it needs.
  # shellcheck disable=SC2013 # one path a word
  for module in $(awk -F': *' '$1 ~ /\/(virtio_pci|9p|9pnet_virtio)\.ko$/ { print $1; print $2 }' "$modules_dir/modules.dep"); do
    mkdir -p "$own/$(dirname "$module")" && cp "$modules_dir/$module" "$own/$module" || return 1
  done
  busybox depmod -b "$tree" "$version" || return 1
  (cd "$tree" && find . | busybox cpio -o -H newc -R 0:0) >"$vm_dir/initramfs.new" || return 1
  mv "$vm_dir/initramfs.new" "$vm_dir/initramfs.cpio"
}

vm_run() (
  local modules='' timeout=600 share control qemu_pid='' qemu_status caller=$$ started boot=1 accel failure
  local virtfs=security_model=none,multidevs=remap
  while [ $# -gt 0 ]; do
    case $1 in
    --modules) modules=$2; shift 2 ;;
    --timeout) timeout=$2; shift 2 ;;
    --) shift; break ;;
    *) echo "vm_run: unknown option $1" >&2; exit 125 ;;
    esac
  done
  [ $# -gt 0 ] || { echo "vm_run: no command" >&2; exit 125; }
  exec 9<>"$vm_dir/lock" || exit 125
  flock -s -w 900 9 || { echo "vm_run: build-vm/ stayed locked for 15 minutes" >&2; exit 125; }
  [ -f "$vm_dir/initramfs.stamp" ] || { echo "vm_run: run vm_prepare first" >&2; exit 125; }
  vm_accelerator || exit 125

  control=$(mktemp -d /tmp/tarnwick-vm.XXXXXX)
  share=$(mktemp -d /tmp/tarnwick-vm-share.XXXXXX)
  trap 'stop_process "$qemu_pid"; rm -rf "$control" "$share"' EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  trap 'exit 129' HUP

  printf 'kernel_tree=%q share=%q repo=%q modules=%q\n' "$vm_dir/kernel" "$share" "$repo_root" "$modules" \
    >"$control/settings"
  printf 'cd %q && exec' "$share" >"$control/command"
  printf ' %q' "$@" >>"$control/command"

  # A boot that does not reach the command is the VM's failure, not the
  # command's. Under KVM it is KVM's: TCG takes over. Under TCG (once seen on
  # a busy machine: no output at all, however long it was given) it is said
  # so and booted once more; a QEMU that ended is not.
  while :; do
    rm -f "$control"/started "$control"/console.log
    started=$SECONDS
    accel=(-accel tcg -cpu Haswell-v4)
    [ "$vm_accel" = kvm ] && accel=(-accel kvm -cpu host)
    # "quiet": an emulated serial port takes seconds for the boot messages.
    timeout -k 5 "$timeout" qemu-system-x86_64 -nodefaults -no-user-config -no-reboot "${accel[@]}" \
      -m 2048 -smp 2 -display none -monitor none -serial "file:$control/console.log" \
      -kernel "$vm_dir/vmlinux" -initrd "$vm_dir/initramfs.cpio" -append "console=ttyS0 panic=-1 quiet mitigations=off" \
      -virtfs "local,path=/,mount_tag=host,readonly=on,$virtfs" \
      -virtfs "local,path=$control,mount_tag=control,$virtfs" \
      -virtfs "local,path=$share,mount_tag=share,$virtfs" \
      </dev/null >"$control/qemu.log" 2>&1 &
    qemu_pid=$!
    vm_await_command "$qemu_pid" "$control" "$vm_accel" "$caller"
    case $? in 0) break ;; 2) exit 125 ;; esac
    if [ "$vm_accel" = kvm ] && [ -z "${TARNWICK_VM_ACCEL:-}" ]; then
      stop_process "$qemu_pid"
      qemu_pid=
      vm_accel=tcg vm_accel_reason=$failure
      [ "${failure#KVM }" != "$failure" ] || vm_accel_reason="under KVM, $failure"
      vm_remember_accelerator
      echo "vm: accelerator tcg ($vm_accel_reason)" >&2
      continue
    fi
    # A QEMU that ended on its own is the VM's failure below, with its status.
    kill -0 "$qemu_pid" 2>/dev/null || break
    stop_process "$qemu_pid"
    qemu_pid=
    echo "vm_run: the VM did not reach the command in $((SECONDS - started)) s ($failure; boot $boot of 2," \
      "$vm_accel); the end of its console and QEMU's log:" >&2
    tail -n 20 "$control/console.log" "$control/qemu.log" >&2 2>/dev/null
    [ "$boot" -eq 1 ] || exit 125
    boot=2
  done
  if [ "$vm_accel_reason" = untried ]; then
    vm_accel_reason="a guest reached its command under KVM in $((SECONDS - started)) s"
    vm_remember_accelerator
  fi
  qemu_status=0
  wait "$qemu_pid" || qemu_status=$?
  qemu_pid=

  [ -f "$control/stdout" ] && cat "$control/stdout"
  [ -f "$control/stderr" ] && cat "$control/stderr" >&2
  if [ -f "$control/status" ]; then
    exit "$(cat "$control/status")"
  elif [ "$qemu_status" -eq 124 ]; then
    echo "vm_run: stopped after $timeout s: $*; the end of its console:" >&2
    tail -n 20 "$control/console.log" >&2 2>/dev/null
    exit 124
  fi
  echo "vm_run: the virtual machine failed after $((SECONDS - started)) s (qemu status $qemu_status); its console:" >&2
  cat "$control/console.log" "$control/qemu.log" >&2 2>/dev/null
  exit 125
)

# vm_await_command PID CONTROL ACCELERATOR CALLER: true once the guest has started
# the command; false when the boot failed, with failure saying how. Polled
# rather than waited for, so that a caller that was killed takes the VM with
# it (status 2). Under KVM, QEMU's own report of a stopped guest ends the wait
# at once: QEMU itself runs on.
vm_await_command() {
  local pid=$1 control=$2 kind=$3 caller=$4 limit=$vm_boot_limit since=$SECONDS report
  [ "$kind" = kvm ] && limit=$vm_kvm_boot_limit
  while [ ! -e "$control/started" ]; do
    kill -0 "$caller" 2>/dev/null || return 2
    if ! kill -0 "$pid" 2>/dev/null; then
      [ -e "$control/started" ] && return 0
      report=$(grep -m 1 -i 'kvm' "$control/qemu.log")
      failure="QEMU ended before the command${report:+: $report}"
      return 1
    fi
    if [ "$kind" = kvm ] && report=$(grep -m 1 'KVM internal error' "$control/qemu.log"); then
      failure="KVM stopped the guest: $report"
      return 1
    fi
    if [ $((SECONDS - since)) -ge "$limit" ]; then
      failure="no command within $limit s"
      return 1
    fi
    sleep 0.1
  done
}
