# Tests of the skinned controls on Qt's offscreen platform (the tests select it), and a
# screenshot of the skin gallery under a virtual X server that shows the shaped face.
if(LIRROSA_GUI)
  foreach(name test_regionstring test_imagebutton test_skinform test_mfd test_skin_artwork)
    lirrosa_add_test_program(${CMAKE_CURRENT_LIST_DIR}/${name}.cpp lirrosa_skin)
  endforeach()

  lirrosa_find_test_program(XVFB_RUN xvfb-run)
  if(XVFB_RUN)
    # The screenshot is kept under the build folder as an artefact of the run.
    set(LIRROSA_SKIN_SCREENSHOT ${CMAKE_BINARY_DIR}/artifacts/skin-gallery.png)
    add_test(NAME skin_gallery_screenshot
      COMMAND ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb
              ${XVFB_RUN} -a -s "-screen 0 1100x1000x24 -wr"
              $<TARGET_FILE:lirrosa-skin-gallery> --screenshot ${LIRROSA_SKIN_SCREENSHOT})
    set_tests_properties(skin_gallery_screenshot PROPERTIES FIXTURES_SETUP skin_screenshot TIMEOUT 120
      ENVIRONMENT "LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_LIST_DIR}/lsan-system-libraries.supp")

    # Reads the screenshot: one test program run as a whole after the gallery.
    add_executable(test_skin_screenshot ${CMAKE_CURRENT_LIST_DIR}/test_skin_screenshot.cpp)
    target_link_libraries(test_skin_screenshot PRIVATE lirrosa_skin GTest::gtest GTest::gtest_main)
    target_compile_definitions(test_skin_screenshot PRIVATE
      LIRROSA_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
      LIRROSA_SKIN_SCREENSHOT="${LIRROSA_SKIN_SCREENSHOT}")
    add_test(NAME skin_gallery_screenshot_check COMMAND test_skin_screenshot)
    set_tests_properties(skin_gallery_screenshot_check PROPERTIES FIXTURES_REQUIRED skin_screenshot)
  endif()
endif()

# The main window on the offscreen platform, on virtual wave devices and a capture MIDI device.
if(LIRROSA_GUI)
  lirrosa_add_test_program(${CMAKE_CURRENT_LIST_DIR}/test_F_main.cpp lirrosa_window)
  target_compile_definitions(test_F_main PRIVATE LIRROSA_TEST_VERSION="${PROJECT_VERSION}")
endif()

# The road of one take through the desktop program, by real input events on a virtual X
# display, with the MIDI echo on the private sound server; its screenshots are kept.
if(LIRROSA_GUI AND XVFB_RUN)
  find_program(SYSTEM_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)
  add_test(NAME road_of_one_take
    COMMAND ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY
            ${XVFB_RUN} -a -s "-screen 0 1024x768x24 -wr"
            ${SYSTEM_PYTHON} -m unittest -v test_road_of_one_take
    WORKING_DIRECTORY ${CMAKE_CURRENT_LIST_DIR})
  set_tests_properties(road_of_one_take PROPERTIES
    ENVIRONMENT "LIRROSA_BIN_DIR=$<TARGET_FILE_DIR:lirrosa>;LIRROSA_BUILD_DIR=${CMAKE_BINARY_DIR};LIRROSA_SOURCE_DIR=${CMAKE_SOURCE_DIR};LIRROSA_ARTIFACTS=${CMAKE_BINARY_DIR}/artifacts/road-of-one-take;LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_LIST_DIR}/lsan-system-libraries.supp"
    RESOURCE_LOCK sound_server TIMEOUT 180)
endif()
