# The conversion workflow without a window: the controller of the main window, the seam
# through which it reaches its window, and the window's controls as plain values for the
# command line and the tests. Free of Qt; the desktop program links it too.
add_library(lirrosa_app STATIC
  ${CMAKE_CURRENT_LIST_DIR}/ConversionController.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ControlPanel.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MidiConnections.cpp)
target_link_libraries(lirrosa_app PUBLIC lirrosa_settings lirrosa_platform lirrosa_core)

# The echo latency of a microphone take (sample in, note-on out).
if(LIRROSA_BENCH)
  find_package(benchmark REQUIRED)
  add_executable(bench_echo_latency ${CMAKE_SOURCE_DIR}/bench/app/bench_echo_latency.cpp)
  target_link_libraries(bench_echo_latency PRIVATE lirrosa_app benchmark::benchmark benchmark::benchmark_main)
endif()
