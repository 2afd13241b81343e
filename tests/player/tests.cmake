# Tests of this area; see tests/CMakeLists.txt.
# The skinned slider, driven by synthetic mouse events.
brindle_add_test(slider_test gui
  support/WidgetTestMain.cpp
  player/slider_test.cpp
)
target_link_libraries(slider_test PRIVATE brindle_gui)
# The player window playing real files through the decoding library; SDL's disk driver
# records what the sound output plays.
brindle_add_test(player_form_test gui
  support/WidgetTestMain.cpp
  player/player_form_test.cpp
)
target_link_libraries(player_form_test PRIVATE brindle_gui)
add_dependencies(player_form_test xaudio)
