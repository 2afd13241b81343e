# Tests of this area; see tests/CMakeLists.txt.
# The WAV file information window.
brindle_add_test(inspect_gui_test gui
  support/WidgetTestMain.cpp
  inspect/wave_info_form_test.cpp
)
target_link_libraries(inspect_gui_test PRIVATE brindle_gui)
