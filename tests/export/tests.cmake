# Tests of the export: the engine's ringtone text, package, request and answer; the sibling
# look-up and stored delivery fields; the HTTP component and lirrosa-cli ringtone against
# the reference service of tools/ringtone-service.
foreach(name test_Rtttl_writer test_DeliveryRequest)
  lirrosa_add_test_program(${CMAKE_CURRENT_LIST_DIR}/${name}.cpp lirrosa_core)
endforeach()
lirrosa_add_test_program(${CMAKE_CURRENT_LIST_DIR}/test_ExportSettings.cpp lirrosa_export)
target_include_directories(test_ExportSettings PRIVATE ${CMAKE_SOURCE_DIR}/tests)

find_program(SYSTEM_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)
set(LIRROSA_REFERENCE_SERVICE ${CMAKE_SOURCE_DIR}/tools/ringtone-service/reference_service.py)
lirrosa_add_test_program(${CMAKE_CURRENT_LIST_DIR}/test_Lirrosahttp.cpp lirrosa_http)
target_compile_definitions(test_Lirrosahttp PRIVATE
  LIRROSA_SYSTEM_PYTHON="${SYSTEM_PYTHON}" LIRROSA_REFERENCE_SERVICE="${LIRROSA_REFERENCE_SERVICE}")

add_test(NAME cli_ringtone
  COMMAND ${SYSTEM_PYTHON} -m unittest -v test_cli_ringtone
  WORKING_DIRECTORY ${CMAKE_CURRENT_LIST_DIR})
set_tests_properties(cli_ringtone PROPERTIES
  ENVIRONMENT "LIRROSA_CLI=$<TARGET_FILE:lirrosa-cli>;LIRROSA_SETUP=$<TARGET_FILE:lirrosa-setup>;LIRROSA_SOURCE_DIR=${CMAKE_SOURCE_DIR};LIRROSA_REFERENCE_SERVICE=${LIRROSA_REFERENCE_SERVICE}"
  TIMEOUT 300)

# The tempo bar during a ringtone preview runs the MIDI stream's scheduler and player threads.
add_executable(test_RingtoneTempo ${CMAKE_CURRENT_LIST_DIR}/test_RingtoneTempo.cpp)
target_link_libraries(test_RingtoneTempo PRIVATE lirrosa_export GTest::gtest GTest::gtest_main)
target_include_directories(test_RingtoneTempo PRIVATE ${CMAKE_SOURCE_DIR}/tests)
gtest_discover_tests(test_RingtoneTempo DISCOVERY_TIMEOUT 60 PROPERTIES LABELS threaded TIMEOUT 120
  ENVIRONMENT "TSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/midi/tsan.supp")
add_dependencies(threaded_tests test_RingtoneTempo)

# The export and online windows on the offscreen platform, after a file take of the main window.
if(LIRROSA_GUI)
  lirrosa_add_test_program(${CMAKE_CURRENT_LIST_DIR}/test_F_export.cpp lirrosa_window)
  target_compile_definitions(test_F_export PRIVATE
    LIRROSA_SYSTEM_PYTHON="${SYSTEM_PYTHON}" LIRROSA_REFERENCE_SERVICE="${LIRROSA_REFERENCE_SERVICE}")
endif()

# The export window by real input events on a virtual X display, with its screenshots kept.
find_program(XVFB_RUN xvfb-run)
if(LIRROSA_GUI AND XVFB_RUN)
  add_test(NAME export_window_road
    COMMAND ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY
            ${XVFB_RUN} -a -s "-screen 0 1024x768x24 -wr"
            ${SYSTEM_PYTHON} -m unittest -v test_export_window_road
    WORKING_DIRECTORY ${CMAKE_CURRENT_LIST_DIR})
  set_tests_properties(export_window_road PROPERTIES
    ENVIRONMENT "LIRROSA_BIN_DIR=$<TARGET_FILE_DIR:lirrosa>;LIRROSA_SOURCE_DIR=${CMAKE_SOURCE_DIR};LIRROSA_ARTIFACTS=${CMAKE_BINARY_DIR}/artifacts/export-window;LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/gui/lsan-system-libraries.supp"
    RESOURCE_LOCK sound_server TIMEOUT 180)
endif()
