# Export and delivery: the ringtone text, melody package, request and answer, and the MIDI
# score are part of the engine; the sibling look-up, the stored delivery fields and the
# tempo bar use the settings store and the MIDI output; the HTTP component uses Qt Network
# (no widgets).
target_sources(lirrosa_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/Rtttl_writer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/M_langload.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DeliveryRequest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ScoreExport.cpp)

add_library(lirrosa_export STATIC
  ${CMAKE_CURRENT_LIST_DIR}/SiblingProgram.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DeliverySettings.cpp
  ${CMAKE_CURRENT_LIST_DIR}/RingtoneTempo.cpp)
target_link_libraries(lirrosa_export PUBLIC lirrosa_settings lirrosa_platform lirrosa_core)

find_package(Qt6 REQUIRED COMPONENTS Core Network)
add_library(lirrosa_http STATIC ${CMAKE_CURRENT_LIST_DIR}/Lirrosahttp.cpp ${CMAKE_CURRENT_LIST_DIR}/Lirrosahttp.h)
set_target_properties(lirrosa_http PROPERTIES AUTOMOC ON)
target_link_libraries(lirrosa_http PUBLIC lirrosa_core Qt6::Core Qt6::Network)

# lirrosa-cli ringtone (src/cli/RingtoneCommand.cpp, in lirrosa_cli): the RTTTL text from the
# command line, and its request to the service.
target_link_libraries(lirrosa_cli PUBLIC lirrosa_export lirrosa_http)
