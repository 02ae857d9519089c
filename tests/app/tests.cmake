# The conversion controller on virtual wave devices, a capture MIDI device and a pumped
# message loop; and on a real PulseAudio server when one is reachable
# (scripts/with-sound-server.sh starts a private one). The controller tests run device and
# player threads, so they carry the label "threaded".
set(LIRROSA_APP_TSAN_OPTIONS "TSAN_OPTIONS=suppressions=${CMAKE_CURRENT_LIST_DIR}/tsan.supp")

function(lirrosa_add_app_test name)
  add_executable(${name} ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/${name}.cpp)
  target_link_libraries(${name} PRIVATE lirrosa_app ${ARGN} GTest::gtest GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE LIRROSA_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
endfunction()

lirrosa_add_app_test(test_MessageLoop)
gtest_discover_tests(test_MessageLoop DISCOVERY_TIMEOUT 60)

foreach(name test_ConversionController test_ControllerFaults)
  lirrosa_add_app_test(${name})
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS threaded TIMEOUT 300
    ENVIRONMENT "${LIRROSA_APP_TSAN_OPTIONS}")
endforeach()

find_package(PkgConfig REQUIRED)
pkg_check_modules(LIRROSA_APP_PULSE_SIMPLE REQUIRED IMPORTED_TARGET libpulse-simple)
lirrosa_add_app_test(test_ControllerPulse PkgConfig::LIRROSA_APP_PULSE_SIMPLE)
# The real server's sinks are shared with the audio and MIDI tests that use it.
gtest_discover_tests(test_ControllerPulse DISCOVERY_TIMEOUT 60 PROPERTIES LABELS threaded TIMEOUT 120
  RESOURCE_LOCK sound_server ENVIRONMENT "${LIRROSA_APP_TSAN_OPTIONS}")

# The command line on the controller, end to end.
find_program(SYSTEM_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)
add_test(NAME cli_on_the_controller
  COMMAND ${SYSTEM_PYTHON} -m unittest -v test_cli_controller
  WORKING_DIRECTORY ${CMAKE_CURRENT_LIST_DIR})
set_tests_properties(cli_on_the_controller PROPERTIES
  ENVIRONMENT "LIRROSA_CLI=$<TARGET_FILE:lirrosa-cli>;LIRROSA_SOURCE_DIR=${CMAKE_SOURCE_DIR};LIRROSA_REGISTRY=${CMAKE_BINARY_DIR}/no-registry/registry.reg;${LIRROSA_APP_TSAN_OPTIONS}"
  LABELS threaded RESOURCE_LOCK "sound_server;jack_server" TIMEOUT 600)
add_dependencies(threaded_tests test_ConversionController test_ControllerFaults test_ControllerPulse lirrosa-cli)
