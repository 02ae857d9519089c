# Wave input and output: the PulseAudio backend of the wave devices (the device layer
# itself is globbed into lirrosa_platform), the recorder and player built on them, and
# the command-line commands that record and play.
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBPULSE REQUIRED IMPORTED_TARGET libpulse)
target_link_libraries(lirrosa_platform PUBLIC PkgConfig::LIBPULSE)
target_sources(lirrosa_platform PRIVATE ${CMAKE_SOURCE_DIR}/src/audio/M_stack.cpp)
