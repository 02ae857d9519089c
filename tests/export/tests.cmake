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
