# The editor's arithmetic and edits, and the editor window on Qt's offscreen platform over
# the main window with virtual wave devices and a capture MIDI device.
lirrosa_add_test_program(${CMAKE_CURRENT_LIST_DIR}/test_note_edits.cpp lirrosa_note_edits)
if(LIRROSA_GUI)
  lirrosa_add_test_program(${CMAKE_CURRENT_LIST_DIR}/test_F_display.cpp lirrosa_window)
endif()
