#!/usr/bin/env bash
# Runs a command beside a private JACK server with the dummy driver (no sound card
# needed, also as root in CI), so that the JACK MIDI tests have a server of their own:
#
#   scripts/with-jack-server.sh ctest --test-dir build
#
# The server gets a fresh name and temporary folder; JACK_DEFAULT_SERVER (the name every
# client opens) and LIRROSA_JACK_SERVER (the same name, which the tests take as the sign
# that a server is meant to run) are exported to the command. Under CI=true a server that
# cannot start fails the run with its log; elsewhere the JACK tests then skip. The server
# is stopped in every case and the command's exit status is returned.
set -uo pipefail

if [ $# -eq 0 ]; then
  echo "usage: $0 COMMAND [ARGS...]" >&2
  exit 2
fi

dir=$(mktemp -d "${TMPDIR:-/tmp}/lirrosa-jack.XXXXXX") || exit 1
name="lirrosa-test-$$-$(basename "$dir" | cut -d. -f2)"
server_pid=""

stop_jackd() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null
    local i
    for i in $(seq 50); do
      kill -0 "$server_pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -9 "$server_pid" 2>/dev/null
    wait "$server_pid" 2>/dev/null
    server_pid=""
  fi
}

stop_server() {
  stop_jackd
  rm -rf "$dir"
}
trap stop_server EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Starts jackd with the options given; true once clients can reach it.
start_jackd() {
  env JACK_NO_AUDIO_RESERVATION=1 jackd "$@" -n "$name" -d dummy -r 48000 -p 256 >>"$dir/jackd.log" 2>&1 &
  server_pid=$!
  local i
  for i in $(seq 100); do
    kill -0 "$server_pid" 2>/dev/null || { wait "$server_pid" 2>/dev/null; server_pid=""; return 1; }
    if env JACK_DEFAULT_SERVER="$name" JACK_NO_START_SERVER=1 jack_lsp >/dev/null 2>&1; then
      return 0
    fi
    sleep 0.1
  done
  return 1
}

# 256-frame periods at 48 kHz, with real-time scheduling where the machine allows it (without
# it a busy machine makes the server miss periods, and the messages in them are lost).
mode=""
start_server() {
  command -v jackd >/dev/null || { echo "jackd is not installed (package jackd2)" >"$dir/jackd.log"; return 1; }
  if start_jackd; then
    mode="real-time scheduling requested"
    return 0
  fi
  stop_jackd
  start_jackd --no-realtime && mode="without real-time scheduling"
}

if start_server; then
  echo "with-jack-server: private JACK server '$name' (dummy driver, 256 frames at 48 kHz, $mode)" >&2
  export JACK_DEFAULT_SERVER="$name" LIRROSA_JACK_SERVER="$name" JACK_NO_START_SERVER=1
else
  echo "with-jack-server: could not start a JACK server:" >&2
  tail -n 20 "$dir/jackd.log" >&2
  if [ "${CI:-}" = "true" ]; then
    echo "with-jack-server: CI needs the JACK tests; failing the run" >&2
    exit 1
  fi
  echo "with-jack-server: the JACK tests will be skipped" >&2
fi

"$@"
exit $?
