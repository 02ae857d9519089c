#!/usr/bin/env bash
# Runs a command inside a private PulseAudio server, so that real-audio tests work on a
# machine without a sound card (also as root in CI):
#
#   scripts/with-sound-server.sh ctest --test-dir build
#
# The server lives in a fresh temporary folder and has two null sinks at the microphone
# format: "spk" (the default output) and "micsink", whose monitor is the default input, so
# audio played into micsink is what the program records. PULSE_SERVER is exported to the
# command. The server is stopped in every case and the command's exit status is returned.
# When the server cannot start, the command runs without it (its real-audio tests skip),
# except under CI=true, where the run fails with the server's log.
set -uo pipefail
source "$(dirname "$0")/test-servers.sh"

if [ $# -eq 0 ]; then
  echo "usage: $0 COMMAND [ARGS...]" >&2
  exit 2
fi

dir=$(mktemp -d "${TMPDIR:-/tmp}/lirrosa-pulse.XXXXXX") || exit 1
server="unix:$dir/native"

# The server's own environment: its runtime folder, pid file and state stay in $dir.
in_server_env() {
  env XDG_RUNTIME_DIR="$dir" HOME="$dir" PULSE_SERVER="$server" "$@"
}

stop_server() {
  in_server_env pulseaudio --kill >/dev/null 2>&1
  local pidfile="$dir/pulse/pid" i
  if [ -f "$pidfile" ]; then
    local pid
    pid=$(cat "$pidfile" 2>/dev/null)
    for i in $(seq 50); do
      [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    [ -n "$pid" ] && kill -9 "$pid" 2>/dev/null
  fi
  rm -rf "$dir"
}
trap stop_server EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

start_server() {
  command -v pulseaudio >/dev/null || { echo "pulseaudio is not installed" >"$dir/start.log"; return 1; }
  in_server_env pulseaudio --daemonize=yes -n --exit-idle-time=-1 --disallow-exit --system=false \
    --use-pid-file=yes --log-target="file:$dir/pa.log" \
    -L "module-native-protocol-unix auth-anonymous=1 socket=$dir/native" \
    -L "module-null-sink sink_name=spk rate=22050 channels=1 format=s16le" \
    -L "module-null-sink sink_name=micsink rate=22050 channels=1 format=s16le" \
    2>>"$dir/start.log" || return 1
  local i
  for i in $(seq 100); do
    if in_server_env pactl info >/dev/null 2>&1; then
      in_server_env pactl set-default-sink spk &&
        in_server_env pactl set-default-source micsink.monitor
      return
    fi
    sleep 0.1
  done
  return 1
}

if start_server; then
  echo "with-sound-server: private PulseAudio server at $server" >&2
  export PULSE_SERVER="$server"
else
  server_unavailable "PulseAudio server" "$dir/start.log" "$dir/pa.log" || exit 1
fi

"$@"
exit $?
