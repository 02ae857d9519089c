# End-to-end tests of lirrosa-cli, run with Debian's Python (it has python3-mido).
find_program(SYSTEM_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)
add_test(NAME cli_end_to_end
  COMMAND ${SYSTEM_PYTHON} -m unittest -v test_cli
  WORKING_DIRECTORY ${CMAKE_CURRENT_LIST_DIR})
set_tests_properties(cli_end_to_end PROPERTIES
  ENVIRONMENT "LIRROSA_CLI=$<TARGET_FILE:lirrosa-cli>;LIRROSA_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
  TIMEOUT 600)
