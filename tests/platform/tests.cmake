# Tests of this area; see tests/CMakeLists.txt.
# The mailbox that hands work between threads; no display needed.
brindle_add_test(platform_core_test core
  platform/mailbox_test.cpp
)
# The sound seam and its SDL player, with SDL's dummy and disk drivers; no display needed.
brindle_add_test(platform_test gui
  platform/sound_player_test.cpp
)
target_link_libraries(platform_test PRIVATE brindle_gui)
# Plays the completion sound that the build writes beside the executables, and shares the
# audio lock of the decoding library found there.
add_dependencies(platform_test done_sound xaudio)
