# The export window and the online window of the desktop program (Qt Widgets), on the
# export units; linked into the main window's library.
if(LIRROSA_GUI)
  find_package(Qt6 REQUIRED COMPONENTS Widgets Gui)
  add_library(lirrosa_exportdlg STATIC
    ${CMAKE_CURRENT_LIST_DIR}/F_export.cpp
    ${CMAKE_CURRENT_LIST_DIR}/F_inet.cpp)
  target_link_libraries(lirrosa_exportdlg PUBLIC lirrosa_export lirrosa_http Qt6::Widgets Qt6::Gui)
  target_link_libraries(lirrosa_window PUBLIC lirrosa_exportdlg)
endif()
