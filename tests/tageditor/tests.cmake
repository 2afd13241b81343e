# Tests of this area; see tests/CMakeLists.txt.
# The tag editor window on real files, with scripted answers to its questions.
brindle_add_test(tageditor_gui_test gui
  support/WidgetTestMain.cpp
  tageditor/id3_tag_form_test.cpp
)
target_link_libraries(tageditor_gui_test PRIVATE brindle_gui)
