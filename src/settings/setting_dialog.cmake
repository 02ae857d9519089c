# The settings dialog TfSetting of the desktop program.
if(LIRROSA_GUI)
  find_package(Qt6 REQUIRED COMPONENTS Widgets Gui)

  add_library(lirrosa_setting_dialog STATIC ${CMAKE_CURRENT_LIST_DIR}/F_setting.cpp)
  target_link_libraries(lirrosa_setting_dialog PUBLIC lirrosa_settings lirrosa_skin lirrosa_platform Qt6::Widgets Qt6::Gui)
endif()
