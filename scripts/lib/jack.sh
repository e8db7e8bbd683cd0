# shellcheck shell=bash
# A private JACK server for the demo, the tests and the benchmarks: the dummy
# backend (no audio hardware, no real-time scheduling) under a server name of
# its own, so that it never meets a user's JACK server. Source this file, then:
#
#   jack_start NAME LOG   starts the server, waits until it takes clients and
#                         exports JACK_DEFAULT_SERVER=NAME for every client
#                         started afterwards, and an empty ALSA configuration,
#                         so that none of the machine's own ALSA ports (a
#                         real device) comes before the server's; sets jack_pid
#   jack_stop             ends it by its process id; safe to call twice
#
# It brings lib/common.sh along (stop_process, target_start). Every wait is
# bounded. The server also ends on its own after JACK_LIFETIME seconds
# (default 900), so that nothing outlives a run killed before its clean-up.
# tests/realmidi/private_jack_server.cpp starts the tests' server with the
# same options and clean-up.

# shellcheck disable=SC1091 # the sourcing script names it for shellcheck
declare -F stop_process >/dev/null || source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

jack_pid=
jack_name=

jack_start() {
  local name=$1 log=$2
  jack_name=$name
  export JACK_DEFAULT_SERVER=$name ALSA_CONFIG_PATH=/dev/null
  # timeout passes our SIGTERM on to jackd and ends with it. In --sync mode
  # the server waits for every client each cycle: otherwise a client that a
  # busy machine holds back misses cycles, and their MIDI events are lost.
  timeout -k 5 "${JACK_LIFETIME:-900}" jackd --no-realtime --sync --name "$name" -d dummy -r 48000 -p 256 \
    </dev/null >"$log" 2>&1 &
  jack_pid=$!
  wait_until "$jack_pid" 100 jack_lsp >/dev/null 2>&1 && return 0
  if kill -0 "$jack_pid" 2>/dev/null; then
    echo "jackd took no client within 10 s:" >&2
  else
    echo "jackd ended at once:" >&2
  fi
  cat "$log" >&2
  jack_stop
  return 1
}

jack_stop() {
  [ -n "$jack_pid" ] || return 0
  stop_process "$jack_pid"
  jack_pid=
  # A client that was killed leaves its semaphores behind; they carry the
  # server's name, which no one else uses.
  rm -f /dev/shm/jack*_"${jack_name}"_* 2>/dev/null
  return 0
}
