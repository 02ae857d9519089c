# The editor's arithmetic and edits, and the editor window on Qt's offscreen platform over
# the main window with virtual wave devices and a capture MIDI device.
lirrosa_add_test_program(${CMAKE_CURRENT_LIST_DIR}/test_note_edits.cpp lirrosa_note_edits)
if(LIRROSA_GUI)
  lirrosa_add_test_program(${CMAKE_CURRENT_LIST_DIR}/test_F_display.cpp lirrosa_window)
endif()

# The editor driven by real input events on a virtual X display inside the private sound
# server; its screenshots are kept.
find_program(XVFB_RUN xvfb-run)
if(LIRROSA_GUI AND XVFB_RUN)
  find_program(SYSTEM_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)
  add_test(NAME edit_notes_by_hand
    COMMAND ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY
            ${XVFB_RUN} -a -s "-screen 0 1024x800x24 -wr"
            ${SYSTEM_PYTHON} -m unittest -v test_edit_notes_by_hand
    WORKING_DIRECTORY ${CMAKE_CURRENT_LIST_DIR})
  set_tests_properties(edit_notes_by_hand PROPERTIES
    ENVIRONMENT "LIRROSA_BIN_DIR=$<TARGET_FILE_DIR:lirrosa>;LIRROSA_SOURCE_DIR=${CMAKE_SOURCE_DIR};LIRROSA_ARTIFACTS=${CMAKE_BINARY_DIR}/artifacts/edit-notes;LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/gui/lsan-system-libraries.supp"
    RESOURCE_LOCK sound_server TIMEOUT 180)
endif()
