# End-to-end tests of lirrosa-cli, run with Debian's Python (it has python3-mido).
find_program(SYSTEM_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)
add_test(NAME cli_end_to_end
  COMMAND ${SYSTEM_PYTHON} -m unittest -v test_cli
  WORKING_DIRECTORY ${CMAKE_CURRENT_LIST_DIR})
set_tests_properties(cli_end_to_end PROPERTIES
  ENVIRONMENT "LIRROSA_CLI=$<TARGET_FILE:lirrosa-cli>;LIRROSA_SOURCE_DIR=${CMAKE_SOURCE_DIR};LIRROSA_REGISTRY=${CMAKE_BINARY_DIR}/no-registry/registry.reg"
  TIMEOUT 600)

# Note transcription score on a real sung excerpt, against two human annotations. The floor
# guards against regressions; the annotators agree with each other at about 0.86.
set(VOCADITO_DIR ${CMAKE_SOURCE_DIR}/../shared/data)
if(EXISTS ${VOCADITO_DIR}/vocadito_1/vocadito_1.wav)
  add_test(NAME cli_vocadito_note_score
    COMMAND ${SYSTEM_PYTHON} ${CMAKE_SOURCE_DIR}/tests/tools/score_vocadito.py
            $<TARGET_FILE:lirrosa-cli> ${VOCADITO_DIR} --min-f 0.55)
  set_tests_properties(cli_vocadito_note_score PROPERTIES
    ENVIRONMENT "LIRROSA_REGISTRY=${CMAKE_BINARY_DIR}/no-registry/registry.reg")
endif()
