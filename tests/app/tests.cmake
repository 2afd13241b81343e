# Tests of this area; see tests/CMakeLists.txt.
# The file lists' records and playlist import, without widgets.
brindle_add_test(app_core_test core
  app/file_param_test.cpp
  app/playlist_import_test.cpp
)
# The two file lists as widgets.
brindle_add_test(file_lists_test gui
  support/WidgetTestMain.cpp
  app/file_lists_test.cpp
)
target_link_libraries(file_lists_test PRIVATE brindle_gui)
# Program start, the main window and the About window.
brindle_add_test(main_form_test gui
  support/WidgetTestMain.cpp
  app/main_form_test.cpp
  app/file_info_command_test.cpp
)
target_link_libraries(main_form_test PRIVATE brindle_gui)
