# shellcheck shell=bash
# The updater's page in headless Chromium, for commands that lib/vm.sh runs
# in the VM: a browser session (tests/web/browser_session.py) that serves
# every run of the boot, as Chromium takes a minute or more to start there.
# Source lib/common.sh and this file, then:
#
#   web_build                    builds the page with Emscripten in build-web
#                                (on the machine, not in the VM)
#   browser_start PAGE_DIR LOG   starts it and waits for its ready line
#                                (up to 450 s); sets browser_socket
#   browser_run ARG...           one run through the page (browser_session.py
#                                run, its --socket given)
#   browser_stop                 asks it to quit, then ends it by its id
#   udev_start / udev_stop       udev, for Chromium to list a sound card's
#                                ports (below)

browser_driver=${repo_root:?source lib/common.sh first}/tests/web/browser_session.py
browser_pid=
browser_socket=
web_dir=$repo_root/build-web

# Emscripten's tools need Debian's node modules (acorn), which a Node.js
# from elsewhere (NodeSource) does not look for.
web_build() (
  export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
  emcmake cmake -S "$repo_root" -B "$web_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARNWICK_WERROR=ON >/dev/null &&
    cmake --build "$web_dir" -j2
)

browser_start() {
  local page=$1 log=$2
  # The page's server listens on 127.0.0.1, which a fresh VM has down.
  ip -o link show lo | grep -q ",UP" || ip link set lo up || return 1
  browser_socket=$(mktemp -u /tmp/tarnwick-browser.XXXXXX)
  python3 "$browser_driver" serve --page "$page" --socket "$browser_socket" </dev/null >"$log" 2>&1 &
  browser_pid=$!
  if wait_until "$browser_pid" 4500 grep -qs '^browser-session: ready: ' "$log"; then
    grep '^browser-session: ready: ' "$log"
    return 0
  fi
  echo "browser: no session within 450 s; its log:"
  cat "$log"
  browser_stop
  return 1
}

browser_run() {
  python3 "$browser_driver" run --socket "$browser_socket" "$@"
}

# Quitting closes Chromium (up to 30 s); SIGTERM does the same, the session
# being given that long before SIGKILL.
browser_stop() {
  local tries
  [ -n "$browser_pid" ] || return 0
  python3 "$browser_driver" quit --socket "$browser_socket" >/dev/null 2>&1 || kill -TERM "$browser_pid" 2>/dev/null
  for ((tries = 0; tries < 400; tries++)); do
    kill -0 "$browser_pid" 2>/dev/null || break
    sleep 0.1
  done
  stop_process "$browser_pid"
  browser_pid=
}

# Chromium lists the sequencer's ports only while udev's count of sound
# cards agrees with the sequencer's: with a card that udev has not announced
# (no udev in the VM), it lists no port that came after the system's own.
# udev in the VM needs a writable /run, and its tools refuse to work in a
# chroot unless told.
udev_pid=
udev_start() {
  mount -t tmpfs -o mode=755 tmpfs /run || return 1
  SYSTEMD_IGNORE_CHROOT=1 /lib/systemd/systemd-udevd </dev/null >/dev/null 2>&1 &
  udev_pid=$!
  wait_until "$udev_pid" 100 test -S /run/udev/control || { echo "udev: no control socket within 10 s"; return 1; }
  SYSTEMD_IGNORE_CHROOT=1 udevadm trigger --action=add --subsystem-match=sound &&
    SYSTEMD_IGNORE_CHROOT=1 udevadm settle --timeout=60
}

udev_stop() {
  stop_process "$udev_pid"
  udev_pid=
}
