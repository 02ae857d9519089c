# MIDI output: the stream and its devices, MidiOut's playback and live messages, and the
# built-in synthesiser. Every one of them runs the stream's scheduler thread and the
# player thread, so all carry the label "threaded" (run under ThreadSanitizer in CI).
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIRROSA_PULSE_SIMPLE REQUIRED IMPORTED_TARGET libpulse-simple)

function(lirrosa_add_midi_test name)
  set(src ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/${name}.cpp)
  add_executable(${name} ${src})
  target_link_libraries(${name} PRIVATE lirrosa_platform ${ARGN} GTest::gmock GTest::gtest GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    LIRROSA_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    LIRROSA_BINARY_DIR="${CMAKE_BINARY_DIR}"
    LIRROSA_SHARED_DATA_DIR="${CMAKE_SOURCE_DIR}/../shared/data")
  # The live synthesiser test records the sound server's output sink, which the audio tests
  # play into, so the MIDI tests take the server's lock too.
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS threaded TIMEOUT 120 RESOURCE_LOCK sound_server
    ENVIRONMENT "TSAN_OPTIONS=suppressions=${CMAKE_CURRENT_FUNCTION_LIST_DIR}/tsan.supp")
  add_dependencies(threaded_tests ${name})
endfunction()

lirrosa_add_midi_test(test_MidiStream)
lirrosa_add_midi_test(test_MidiOut_play)
lirrosa_add_midi_test(test_MidiOut_live)
lirrosa_add_midi_test(test_BuiltInSynth PkgConfig::LIRROSA_PULSE_SIMPLE)
lirrosa_add_midi_test(test_RenderRoundTrip)

# The JACK MIDI port, received by a test client on the private JACK server of
# scripts/with-jack-server.sh. They hold both cores (PROCESSORS 2), so that no other test
# delays the scheduler by more than the period that the timing checks allow.
# Not "threaded": under ThreadSanitizer libjack's process cycle stalls once two clients share
# a process (the test client never receives anything), so the ring between the stream and
# the process callback is checked there by test_MidiEventRing instead.
add_executable(test_JackMidi ${CMAKE_CURRENT_LIST_DIR}/test_JackMidi.cpp)
target_link_libraries(test_JackMidi PRIVATE lirrosa_app GTest::gtest GTest::gtest_main)
target_compile_definitions(test_JackMidi PRIVATE LIRROSA_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
gtest_discover_tests(test_JackMidi DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120 RESOURCE_LOCK jack_server
  PROCESSORS 2)
lirrosa_add_midi_test(test_MidiEventRing)

lirrosa_add_midi_test(test_AlsaOwnPort)
