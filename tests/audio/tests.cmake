# Wave devices, the recorder and the player: on the clocked virtual device, and on a real
# PulseAudio server when one is reachable (scripts/with-sound-server.sh starts a private
# one). Every test here runs device threads, so all carry the label "threaded".
find_package(PkgConfig REQUIRED)
# Read by ThreadSanitizer builds only.
set(LIRROSA_AUDIO_TSAN_OPTIONS "TSAN_OPTIONS=suppressions=${CMAKE_CURRENT_LIST_DIR}/tsan.supp")
pkg_check_modules(LIBPULSE_SIMPLE REQUIRED IMPORTED_TARGET libpulse-simple)

function(lirrosa_add_audio_test name)
  add_executable(${name} ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/${name}.cpp)
  target_link_libraries(${name} PRIVATE ${ARGN} GTest::gtest GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    LIRROSA_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    LIRROSA_TEST_OUTPUT_DIR="${CMAKE_CURRENT_BINARY_DIR}")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS threaded TIMEOUT 120
    # The tests on the real server share its sinks.
    RESOURCE_LOCK sound_server ENVIRONMENT "${LIRROSA_AUDIO_TSAN_OPTIONS}")
  add_dependencies(threaded_tests ${name})
endfunction()

foreach(name test_wave_device test_wave_recorder test_wave_player)
  lirrosa_add_audio_test(${name} lirrosa_platform)
endforeach()
lirrosa_add_audio_test(test_pulse_wave lirrosa_cli PkgConfig::LIBPULSE_SIMPLE)

# The record, play and devices commands, end to end.
find_program(SYSTEM_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)
add_test(NAME cli_record_play_devices
  COMMAND ${SYSTEM_PYTHON} -m unittest -v test_record_cli
  WORKING_DIRECTORY ${CMAKE_CURRENT_LIST_DIR})
set_tests_properties(cli_record_play_devices PROPERTIES
  ENVIRONMENT "LIRROSA_CLI=$<TARGET_FILE:lirrosa-cli>;LIRROSA_SOURCE_DIR=${CMAKE_SOURCE_DIR};${LIRROSA_AUDIO_TSAN_OPTIONS}"
  LABELS threaded RESOURCE_LOCK sound_server TIMEOUT 600)
add_dependencies(threaded_tests lirrosa-cli)
