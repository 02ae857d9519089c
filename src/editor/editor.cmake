# The note editor: the piano-roll window and the note edit dialog on Qt, over the view
# arithmetic and the note edits, which need no window. Linked into the main window.
add_library(lirrosa_note_edits STATIC
  ${CMAKE_CURRENT_LIST_DIR}/PianoRollView.cpp
  ${CMAKE_CURRENT_LIST_DIR}/NoteEdits.cpp)
target_link_libraries(lirrosa_note_edits PUBLIC lirrosa_core)

if(LIRROSA_GUI)
  find_package(Qt6 REQUIRED COMPONENTS Widgets Gui)
  add_library(lirrosa_editor STATIC
    ${CMAKE_CURRENT_LIST_DIR}/F_display.cpp
    ${CMAKE_CURRENT_LIST_DIR}/F_noteedit.cpp)
  target_link_libraries(lirrosa_editor PUBLIC lirrosa_note_edits lirrosa_app Qt6::Widgets Qt6::Gui)
  target_link_libraries(lirrosa_window PUBLIC lirrosa_editor)
endif()

# The full redraw of a short and a long melody.
if(LIRROSA_GUI AND LIRROSA_BENCH)
  find_package(benchmark REQUIRED)
  add_executable(bench_editor ${CMAKE_SOURCE_DIR}/bench/editor/bench_editor.cpp)
  target_link_libraries(bench_editor PRIVATE lirrosa_editor benchmark::benchmark benchmark::benchmark_main)
endif()
