#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test: a normal build, a brief fuzzing
# run of the WAV reader and of the ringtone service's answer parser, the threaded tests
# under ThreadSanitizer, and the whole suite again under AddressSanitizer and
# UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=2

# Tests that need a sound server run inside a private PulseAudio server with null sinks,
# beside a private JACK server with the dummy driver.
run_ctest() {
  if [ -x scripts/with-sound-server.sh ]; then
    scripts/with-sound-server.sh scripts/with-jack-server.sh ctest "$@"
  else
    ctest "$@"
  fi
}

echo "== Build and test =="
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$jobs"
run_ctest --test-dir build --output-on-failure -j"$jobs"

echo "== Fuzz the WAV reader and the ringtone service answer briefly =="
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DLIRROSA_FUZZ=ON -DLIRROSA_TESTS=OFF -DLIRROSA_BENCH=OFF -DLIRROSA_GUI=OFF
cmake --build build-fuzz -j"$jobs" --target fuzz_wav fuzz_response
ctest --test-dir build-fuzz --output-on-failure

echo "== Threaded tests under ThreadSanitizer =="
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DLIRROSA_SANITIZE=thread -DLIRROSA_BENCH=OFF -DLIRROSA_GUI=OFF
cmake --build build-tsan -j"$jobs"
run_ctest --test-dir build-tsan --output-on-failure -L threaded --no-tests=ignore

echo "== Tests under AddressSanitizer and UndefinedBehaviorSanitizer =="
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DLIRROSA_SANITIZE=address,undefined -DLIRROSA_BENCH=OFF
cmake --build build-asan -j"$jobs"
run_ctest --test-dir build-asan --output-on-failure -j"$jobs"
