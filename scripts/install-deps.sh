#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Lirrosa needs.
# Idempotent: packages already present are left alone. Must run as root (or via sudo).
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  python3 python3-mido python3-mir-eval python3-pil xdotool
  qt6-base-dev qt6-base-dev-tools libgl-dev xvfb xauth
  libpulse-dev pulseaudio pulseaudio-utils
  libfluidsynth-dev fluidsynth timgm6mb-soundfont
  libasound2-dev libjack-jackd2-dev jackd2
  libfftw3-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "All build and test packages are installed."
  exit 0
fi

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
# jackd2 asks whether to allow real-time priority; the private test servers need no answer.
echo "jackd2 jackd/tweak_rt_limits boolean false" | $SUDO debconf-set-selections
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
