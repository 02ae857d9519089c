# Skinned controls (image buttons, skinned form, multi-function display), the program
# that draws the BASE skin's pictures, and a gallery window that shows them all.
if(LIRROSA_GUI)
  find_package(Qt6 REQUIRED COMPONENTS Widgets Gui)

  add_library(lirrosa_skin STATIC
    ${CMAKE_CURRENT_LIST_DIR}/RegionString.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Imagebutton.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Checkimagebutton.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Skinform.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Mfd.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Imagebutton.h
    ${CMAKE_CURRENT_LIST_DIR}/Checkimagebutton.h
    ${CMAKE_CURRENT_LIST_DIR}/Skinform.h
    ${CMAKE_CURRENT_LIST_DIR}/Mfd.h)
  set_target_properties(lirrosa_skin PROPERTIES AUTOMOC ON)
  target_link_libraries(lirrosa_skin PUBLIC lirrosa_core Qt6::Widgets Qt6::Gui)

  # Draws the BASE skin: lirrosa-skingen <folder> (see docs/skin.md).
  add_executable(lirrosa-skingen
    ${CMAKE_SOURCE_DIR}/tools/skingen/main.cpp
    ${CMAKE_SOURCE_DIR}/tools/skingen/SkinArt.cpp)
  target_link_libraries(lirrosa-skingen PRIVATE Qt6::Gui)

  add_executable(lirrosa-skin-gallery
    ${CMAKE_SOURCE_DIR}/tools/skingallery/main.cpp
    ${CMAKE_SOURCE_DIR}/tools/skingallery/SkinGallery.cpp)
  target_link_libraries(lirrosa-skin-gallery PRIVATE lirrosa_skin lirrosa_core)
  target_compile_definitions(lirrosa-skin-gallery PRIVATE
    LIRROSA_DEFAULT_SKIN_DIR="${CMAKE_SOURCE_DIR}/skins/BASE")
endif()
