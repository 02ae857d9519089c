# The desktop program "lirrosa": the main window on the conversion controller, its message
# loop on Qt, the help viewer and the about box; the settings dialog comes from src/settings.
if(LIRROSA_GUI)
  find_package(Qt6 REQUIRED COMPONENTS Widgets Gui)

  add_library(lirrosa_window STATIC
    ${CMAKE_CURRENT_LIST_DIR}/AboutBox.cpp
    ${CMAKE_CURRENT_LIST_DIR}/F_main.cpp
    ${CMAKE_CURRENT_LIST_DIR}/HelpViewer.cpp
    ${CMAKE_CURRENT_LIST_DIR}/LevelMeter.cpp
    ${CMAKE_CURRENT_LIST_DIR}/QtMessageLoop.cpp
    ${CMAKE_CURRENT_LIST_DIR}/QtNotifier.cpp
    ${CMAKE_CURRENT_LIST_DIR}/VoiceDiagram.cpp)
  target_link_libraries(lirrosa_window PUBLIC lirrosa_app lirrosa_setting_dialog lirrosa_skin Qt6::Widgets Qt6::Gui)
  target_compile_definitions(lirrosa_window PRIVATE LIRROSA_VERSION="${PROJECT_VERSION}")

  add_executable(lirrosa ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
  target_link_libraries(lirrosa PRIVATE lirrosa_window)

  # Pictures of the X display for the tests that drive the program with real input events.
  add_executable(lirrosa-screenshot ${CMAKE_SOURCE_DIR}/tools/screenshot/main.cpp)
  target_link_libraries(lirrosa-screenshot PRIVATE Qt6::Gui)
endif()
