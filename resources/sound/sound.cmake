# The completion sound, synthesised at build time into the output folder beside the
# program, and installed where the installed program looks for it.
add_executable(make_done_sound ${CMAKE_CURRENT_LIST_DIR}/MakeDoneSound.cpp)
set_target_properties(make_done_sound PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)
set(BRINDLE_DONE_SOUND ${CMAKE_BINARY_DIR}/bin/done.snd)
add_custom_command(OUTPUT ${BRINDLE_DONE_SOUND}
  COMMAND make_done_sound ${BRINDLE_DONE_SOUND}
  DEPENDS make_done_sound
  COMMENT "Synthesising done.snd"
  VERBATIM)
add_custom_target(done_sound ALL DEPENDS ${BRINDLE_DONE_SOUND})
install(FILES ${BRINDLE_DONE_SOUND} DESTINATION share/brindle)
