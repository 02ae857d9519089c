# Reading the notes back from a Standard MIDI File: part of the engine.
target_sources(lirrosa_core PRIVATE ${CMAKE_SOURCE_DIR}/src/midi/SmfReader.cpp)
