# shellcheck shell=bash disable=SC2034 # its variables are for the scripts
# Shared by the scripts: where things are, Debian packages installed only when
# missing, builds, counted checks, and the background processes a script
# starts, each ended by its own process id.
repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
export DEBIAN_FRONTEND=noninteractive

# libusbgx's pkg-config file requires libconfig's, which its -dev package
# does not bring.
build_packages=(build-essential cmake ninja-build pkg-config librtmidi-dev libgtest-dev libgmock-dev libcli11-dev
  jackd2 libjack-jackd2-dev libusbgx-dev libconfig-dev)
# The native build's settings, in build-native, wherever a step builds there.
native_options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNWICK_WERROR=ON)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}
# apt_get ARG...: apt-get as root, waiting up to ten minutes for another
# apt-get or dpkg to finish, and trying a failed download again by itself.
apt_get() {
  as_root apt-get -o DPkg::Lock::Timeout=600 -o Acquire::Retries=3 "$@"
}

# logged LOG COMMAND...: runs COMMAND with its output in LOG, which is shown
# on standard error when it fails.
logged() {
  local log=$1 status=0
  shift
  "$@" </dev/null >"$log" 2>&1 || status=$?
  if [ "$status" -ne 0 ]; then
    echo "failed (status $status): $*; its log, $log:" >&2
    cat "$log" >&2
  fi
  return "$status"
}

# quiet_step TEXT COMMAND...: one line, TEXT, for a step whose output (a
# build's, say) matters only when it fails; it is shown then.
quiet_step() {
  local text=$1 log
  shift
  echo "$text"
  log=$(mktemp "${TMPDIR:-/tmp}/tarnwick-step.XXXXXX")
  logged "$log" "$@" && rm -f "$log"
}

# ensure_packages PACKAGE...: installs those not installed yet, in one line
# on the console ("packages: present" when none is missing, unless
# quiet_when_present=1); apt's own output goes to a log shown only on failure.
# The registry may be broken for days in one index while the others load:
# the install, not the update, decides. A failed install is tried once more
# after a fresh update; a second failure ends in a line naming the packages.
ensure_packages() {
  local missing=() package log
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
  done
  if [ ${#missing[@]} -eq 0 ]; then
    [ "${quiet_when_present:-0}" = 1 ] || echo "packages: present"
    return 0
  fi
  log=$(mktemp "${TMPDIR:-/tmp}/tarnwick-apt.XXXXXX")
  echo "installing: ${missing[*]} (log: $log)"
  [ "$apt_updated" = 1 ] || apt_update "$log"
  apt_install "$log" "${missing[@]}" && return 0
  echo "packages: the install failed; the lists updated again in ${apt_retry_pause:-10} s, then once more"
  sleep "${apt_retry_pause:-10}"
  apt_update "$log"
  apt_install "$log" "${missing[@]}" && return 0
  echo "packages: could not install ${missing[*]}: apt-get failed twice; its log, $log:" >&2
  cat "$log" >&2
  return 1
}
# apt_update LOG: brings the package lists up to date, apt's output appended
# to LOG. An index that did not load is named in one line, and is no failure:
# the packages may well come from the lists that did.
apt_updated=0
apt_update() {
  local log=$1 before failed
  before=$(wc -l <"$log")
  apt_updated=1
  apt_get update </dev/null >>"$log" 2>&1 && return 0
  # apt's first error names the index and why; a warning, if that is all.
  failed=$(tail -n +$((before + 1)) "$log" | grep -E '^(E|W):' | sort -s -t: -k1,1 | head -n 1 | tr -s ' \t' ' ')
  echo "packages: an index did not load, going on with the others: ${failed:-apt-get update failed}"
}
# apt_install LOG PACKAGE...
apt_install() {
  local log=$1
  shift
  apt_get install -y --no-install-recommends "$@" </dev/null >>"$log" 2>&1
}

# cmake_build DIR TARGETS CMAKE_OPTION...: configures the repository in DIR
# (quietly) and builds TARGETS ("" for all) with two jobs, through ccache
# where the machine has it.
cmake_build() {
  local dir=$1 targets=$2 launcher=()
  shift 2
  command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  cmake -S "${cmake_source:-$repo_root}" -B "$dir" -G Ninja "${launcher[@]}" "$@" >/dev/null || return 1
  # shellcheck disable=SC2086 # TARGETS is a list of words
  cmake --build "$dir" -j2 ${targets:+--target $targets}
}

# --- counted checks ----------------------------------------------------------
# One line per check, "PASS: ..." or "FAIL: ...", then "NAME: N passed,
# N failed" from checks_summary, whose status is 1 when any failed.
checks_passed=0
checks_failed=0
pass() {
  echo "PASS: $1"
  checks_passed=$((checks_passed + 1))
}
fail() {
  echo "FAIL: $1"
  checks_failed=$((checks_failed + 1))
}
# check TEXT COMMAND...: passes when COMMAND succeeds.
check() {
  local text=$1
  shift
  if "$@"; then pass "$text"; else fail "$text"; fi
}
# check_equal TEXT ACTUAL EXPECTED
check_equal() {
  if [ "$2" = "$3" ]; then pass "$1"; else fail "$1: got '$2', expected '$3'"; fi
}
# show_difference EXPECTED ACTUAL: how two files' bytes differ, for a failed
# comparison.
show_difference() {
  { diff -u <(od -An -c "$1") <(od -An -c "$2") || true; } | tail -n +3 | sed 's/^/    /'
}
# checks_from_log LOG: counts the verdict lines another script wrote to LOG.
checks_from_log() {
  checks_passed=$((checks_passed + $(grep -c '^PASS: ' "$1" || true)))
  checks_failed=$((checks_failed + $(grep -c '^FAIL: ' "$1" || true)))
}
checks_summary() {
  echo "$1: $checks_passed passed, $checks_failed failed"
  [ "$checks_failed" -eq 0 ]
}

# ctest_counted NAME ALLOWED CTEST_ARG...: CTest's tests in this folder with
# its report, then "NAME: N passed, N failed, N skipped". False when a test
# failed, CTest gave no count, or a test was skipped whose name does not match
# ALLOWED (an extended regular expression; "" allows none): a test that did
# not run must never pass for one that did.
ctest_counted() {
  local name=$1 allowed=$2 log status=0 failed total skipped=0 test_name unexpected=()
  shift 2
  log=$(mktemp "${TMPDIR:-/tmp}/tarnwick-ctest.XXXXXX")
  ctest "$@" 2>&1 | tee "$log" || status=1
  read -r failed total < <(sed -nE 's/^[0-9]+% tests passed, ([0-9]+) tests? failed out of ([0-9]+)$/\1 \2/p' "$log") || true
  while IFS= read -r test_name; do
    skipped=$((skipped + 1))
    [ -n "$allowed" ] && [[ $test_name =~ $allowed ]] || unexpected+=("$name: skipped, and not for a reason the README allows: $test_name")
  done < <(sed -nE -e 's/  # GetParam\(\) = .* \(Skipped\)$/ (Skipped)/' -e 's/^[[:space:]]*[0-9]+ - (.*) \(Skipped\)$/\1/p' "$log")
  rm -f "$log"
  [ -n "${total:-}" ] || { echo "$name: CTest gave no count" && return 1; }
  [ ${#unexpected[@]} -eq 0 ] || printf '%s\n' "${unexpected[@]}"
  echo "$name: $((total - failed - skipped)) passed, $failed failed, $skipped skipped"
  [ "$status" -eq 0 ] && [ "$failed" -eq 0 ] && [ ${#unexpected[@]} -eq 0 ]
}

# --- background processes ----------------------------------------------------
# stop_process PID: ends PID (a child of this shell) and reaps it: SIGTERM,
# up to 30 seconds' grace (a JACK client or server can wait out the server's
# 5 s timeout more than once on a busy machine), then SIGKILL. Sets
# stopped_status to its exit status; does nothing for an empty PID.
stopped_status=
stop_process() {
  local pid=$1 tries
  stopped_status=
  [ -n "$pid" ] || return 0
  kill -TERM "$pid" 2>/dev/null || true
  for ((tries = 0; tries < 300; tries++)); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null || true
  stopped_status=0
  wait "$pid" 2>/dev/null || stopped_status=$?
  return 0
}

# wait_until PID TENTHS COMMAND...: true as soon as COMMAND succeeds, tried
# every tenth of a second while PID runs, TENTHS times at most, then once more.
# The C++ tests own their children, so BackgroundChild::waitUntil in
# tests/support does the same for them.
wait_until() {
  local pid=$1 tries=$2
  shift 2
  while ((tries-- > 0)) && kill -0 "$pid" 2>/dev/null; do
    "$@" && return 0
    sleep 0.1
  done
  "$@"
}

# target_start LOG TARGET ARG...: tarnwick-target started in the background,
# standard output to LOG.out, standard error to LOG.err; waits up to 30 s for
# its ready line. Sets target_pid; false when it did not get ready (it is
# stopped then).
target_pid=
target_start() {
  local log=$1
  shift
  "$@" </dev/null >"$log.out" 2>"$log.err" &
  target_pid=$!
  wait_until "$target_pid" 300 grep -qs ' ready: ' "$log.out" && return 0
  target_stop
  return 1
}

# target_stop: ends it; its exit status is then in stopped_status.
target_stop() {
  stop_process "$target_pid"
  target_pid=
}
