# Tests of this area; see tests/CMakeLists.txt.
# The WAV file information window.
brindle_add_test(inspect_gui_test gui
  support/WidgetTestMain.cpp
  inspect/wave_info_form_test.cpp
)
target_link_libraries(inspect_gui_test PRIVATE brindle_gui)
# The parts behind the MPEG inspection: header bits, durations, the Xing header, positional
# file access and the frame search on its own.
target_sources(inspect_test PRIVATE
  inspect/mpeg_header_bits_test.cpp
  inspect/frame_search_test.cpp
)
