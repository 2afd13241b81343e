# Sources of this area; see src/CMakeLists.txt.
# The player window and its skinned slider. The skins are pictures compiled into the program
# from resources/skins/.
qt_add_resources(BRINDLE_PLAYER_SKINS ${PROJECT_SOURCE_DIR}/resources/skins/player.qrc)
target_sources(brindle_gui PRIVATE
  player/Slider.h player/Slider.cpp
  player/PlayerForm.h player/PlayerForm.cpp
  ${BRINDLE_PLAYER_SKINS}
)

# Draws the skins. After changing it, `ninja -C build player_skins` remakes the PNG files in
# resources/skins/, which are committed.
# It takes the logo from the program icon's drawing, without the GUI library that holds
# the skins it makes.
add_executable(brindle_skin_render player/SkinRender.cpp app/Icons.h app/Icons.cpp)
target_include_directories(brindle_skin_render PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(brindle_skin_render PRIVATE Qt6::Widgets)
add_custom_target(player_skins
  COMMAND brindle_skin_render ${PROJECT_SOURCE_DIR}/resources/skins
  DEPENDS brindle_skin_render
  COMMENT "Drawing the player skins into resources/skins")
