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
  add_test(NAME cli_vocadito_precise_note_score
    COMMAND ${SYSTEM_PYTHON} ${CMAKE_SOURCE_DIR}/tests/tools/score_vocadito.py
            $<TARGET_FILE:lirrosa-cli> ${VOCADITO_DIR} --engine precise --min-f 0.78 --min-off-f 0.62)
  set_tests_properties(cli_vocadito_precise_note_score PROPERTIES
    ENVIRONMENT "LIRROSA_REGISTRY=${CMAKE_BINARY_DIR}/no-registry/registry.reg")
endif()

# Both engines on a generated set of synthetic voices (vibrato, glides, breaths, repeated
# notes, noise 20 dB below the voice): the precise engine may score below the classic one
# on no take.
add_test(NAME cli_synthetic_voices_generate
  COMMAND ${SYSTEM_PYTHON} ${CMAKE_SOURCE_DIR}/tests/tools/make_synthetic_voices.py
          ${CMAKE_BINARY_DIR}/synthetic-voices --seed 2026)
set_tests_properties(cli_synthetic_voices_generate PROPERTIES FIXTURES_SETUP synthetic_voices)
add_test(NAME cli_synthetic_voices_engines
  COMMAND ${SYSTEM_PYTHON} ${CMAKE_SOURCE_DIR}/tests/tools/score_synthetic.py
          $<TARGET_FILE:lirrosa-cli> ${CMAKE_BINARY_DIR}/synthetic-voices)
set_tests_properties(cli_synthetic_voices_engines PROPERTIES
  FIXTURES_REQUIRED synthetic_voices
  ENVIRONMENT "LIRROSA_REGISTRY=${CMAKE_BINARY_DIR}/no-registry/registry.reg")
