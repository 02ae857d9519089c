# MIDI output: the libraries of the stream's devices (FluidSynth, JACK, the ALSA
# sequencer). A missing JACK server or sequencer device is found at run time: the output
# is then not listed.
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIRROSA_FLUIDSYNTH REQUIRED IMPORTED_TARGET fluidsynth)
pkg_check_modules(LIRROSA_ALSA REQUIRED IMPORTED_TARGET alsa)
pkg_check_modules(LIRROSA_JACK REQUIRED IMPORTED_TARGET jack)
target_link_libraries(lirrosa_platform PUBLIC PkgConfig::LIRROSA_FLUIDSYNTH PkgConfig::LIRROSA_ALSA
  PkgConfig::LIRROSA_JACK)

# Scheduling lateness of a playing stream and offline rendering speed.
if(LIRROSA_BENCH)
  find_package(benchmark REQUIRED)
  add_executable(bench_midi ${CMAKE_SOURCE_DIR}/bench/midi/bench_midi.cpp)
  target_link_libraries(bench_midi PRIVATE lirrosa_platform benchmark::benchmark benchmark::benchmark_main)
endif()
