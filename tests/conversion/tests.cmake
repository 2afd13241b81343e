# Tests of this area; see tests/CMakeLists.txt.
brindle_add_test(conversion_gui_test gui
  support/WidgetTestMain.cpp
  conversion/ModalDriver.h
  conversion/confirm_overwrite_test.cpp
  conversion/error_list_test.cpp
  conversion/user_dialogs_test.cpp
  conversion/dir_label_test.cpp
  conversion/conv_form_test.cpp
)
target_link_libraries(conversion_gui_test PRIVATE brindle_gui)
# The conversion engine and path shortening, without widgets.
brindle_add_test(conversion_core_test core
  conversion/path_shorten_test.cpp
  conversion/RunnerFixture.h
  conversion/conv_runner_test.cpp
  conversion/normalize_test.cpp
  conversion/nothing_lost_test.cpp
  conversion/destinations_test.cpp
  conversion/batch_parts_test.cpp
)
# Partial files: their locks, the sweep and the signal cleanup. The tests fork, so they run
# in an executable of their own where no other thread is running.
brindle_add_test(partial_file_test core
  conversion/partial_file_test.cpp
)
