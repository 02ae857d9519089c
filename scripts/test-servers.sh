# Sourced by the scripts that start a private server for the tests (PulseAudio, JACK, ...).
#
#   server_unavailable "PulseAudio server" LOGFILE...
#
# says on stderr that the server could not start and shows the end of its logs. Under
# CI=true it returns 1, and the caller must end the run with it: a CI run never passes
# with the tests that need the server skipped. Elsewhere it returns 0, and those tests
# skip with a message.
server_unavailable() {
  local name=$1 log
  shift
  echo "$(basename "$0"): could not start a $name" >&2
  for log in "$@"; do
    if [ -s "$log" ]; then
      echo "--- $log" >&2
      tail -n 30 "$log" >&2
    fi
  done
  if [ "${CI:-}" = "true" ]; then
    echo "$(basename "$0"): CI=true, so the run fails: the tests that need the $name would be skipped" >&2
    return 1
  fi
  echo "$(basename "$0"): the tests that need the $name will be skipped" >&2
  return 0
}
