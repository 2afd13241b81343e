# Tests of this area; see tests/CMakeLists.txt.
# The options dialog, with scripted answers to its questions.
brindle_add_test(settings_gui_test gui
  support/WidgetTestMain.cpp
  settings/config_form_test.cpp
  settings/unreadable_settings_window_test.cpp
)
target_link_libraries(settings_gui_test PRIVATE brindle_gui)
