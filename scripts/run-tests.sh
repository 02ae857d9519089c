#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test: a normal build, a brief fuzzing
# run of the WAV reader and of the ringtone service's answer parser, the threaded tests
# under ThreadSanitizer, and the whole suite again under AddressSanitizer and
# UndefinedBehaviorSanitizer. Each stage's time is printed at the end, with how many
# tests ran and how many were skipped, and why.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=2
results=$(mktemp -d "${TMPDIR:-/tmp}/lirrosa-results.XXXXXX")
stage_times=()
stage_name=""
stage_start=0

stage() {
  stage_done
  stage_name=$1
  stage_start=$SECONDS
  echo "== $stage_name =="
}

stage_done() {
  [ -n "$stage_name" ] && stage_times+=("$(printf '%5d s  %s' $((SECONDS - stage_start)) "$stage_name")")
  stage_name=""
}

# Printed however the run ends.
summary() {
  stage_done
  echo "== Summary =="
  if compgen -G "$results/*.xml" >/dev/null; then
    /usr/bin/python3 scripts/test-summary.py "$results"/*.xml
  fi
  printf '%s\n' "${stage_times[@]}"
  printf '%5d s  in all\n' "$SECONDS"
  rm -rf "$results"
}
trap summary EXIT

# Tests that need a sound server run inside a private PulseAudio server with null sinks,
# beside a private JACK server with the dummy driver; each run's results are kept for the
# summary.
run_ctest() {
  local name=$1
  shift
  scripts/with-sound-server.sh scripts/with-jack-server.sh ctest "$@" --output-junit "$results/$name.xml"
}

stage "Install the packages"
bash scripts/install-deps.sh --tests

stage "Build"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLIRROSA_WERROR=ON
cmake --build build -j"$jobs"

stage "Test"
run_ctest test --test-dir build --output-on-failure -j"$jobs"

stage "Fuzz the WAV reader and the ringtone service answer briefly"
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DLIRROSA_WERROR=ON \
  -DLIRROSA_FUZZ=ON -DLIRROSA_TESTS=OFF -DLIRROSA_BENCH=OFF -DLIRROSA_GUI=OFF
cmake --build build-fuzz -j"$jobs" --target fuzz_wav fuzz_response
ctest --test-dir build-fuzz --output-on-failure --output-junit "$results/fuzz.xml"

stage "Threaded tests under ThreadSanitizer"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DLIRROSA_SANITIZE=thread -DLIRROSA_WERROR=ON \
  -DLIRROSA_BENCH=OFF -DLIRROSA_GUI=OFF
cmake --build build-tsan -j"$jobs" --target threaded_tests
# Only the threaded test programs are built here: a threaded test whose program is not
# in threaded_tests would silently not run, so the two trees must list the same tests.
threaded_tests() { ctest --test-dir "$1" -N -L threaded | grep -c '^ *Test *#' || true; }
if [ "$(threaded_tests build)" != "$(threaded_tests build-tsan)" ]; then
  echo "run-tests: the ThreadSanitizer tree has $(threaded_tests build-tsan) threaded tests, the main build" \
    "$(threaded_tests build); add the missing test programs to the target threaded_tests" >&2
  exit 1
fi
run_ctest tsan --test-dir build-tsan --output-on-failure -L threaded

stage "Tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DLIRROSA_SANITIZE=address,undefined -DLIRROSA_WERROR=ON \
  -DLIRROSA_BENCH=OFF
cmake --build build-asan -j"$jobs"
run_ctest asan --test-dir build-asan --output-on-failure -j"$jobs"
