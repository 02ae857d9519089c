#!/usr/bin/env bash
# Installs the Debian packages Lirrosa needs. Idempotent: packages already present are
# left alone.
#
#   scripts/install-deps.sh           what building and running the programs needs
#   scripts/install-deps.sh --tests   that, and what the tests need: the test and
#                                     benchmark libraries, clang, the private servers
#                                     (PulseAudio, Xvfb) and the checking tools
#
# Installing needs root or sudo; without either, one line names the packages to install.
set -euo pipefail

# Libraries (sound, synthesiser, sequencer, JACK, FFT), the General MIDI soundfont and Qt.
# No daemon: the programs play through whatever sound server the desktop runs.
run_packages=(
  build-essential cmake pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libpulse-dev
  libfluidsynth-dev timgm6mb-soundfont
  libasound2-dev libjack-jackd2-dev
  libfftw3-dev
)

test_packages=(
  git
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-dev
  python3 python3-mido python3-mir-eval python3-pil
  xvfb xauth xdotool
  pulseaudio pulseaudio-utils jackd2
)

packages=("${run_packages[@]}")
case "${1:-}" in
  "") ;;
  --tests) packages+=("${test_packages[@]}") ;;
  *) echo "usage: $0 [--tests]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "All the packages needed are installed."
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null; then
    echo "install-deps: as root, run: apt-get install ${missing[*]}" >&2
    exit 1
  fi
  SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
