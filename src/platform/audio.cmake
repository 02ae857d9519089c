# Wave input and output: the PulseAudio library for the backend of the wave devices.
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBPULSE REQUIRED IMPORTED_TARGET libpulse)
target_link_libraries(lirrosa_platform PUBLIC PkgConfig::LIBPULSE)
