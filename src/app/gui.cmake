# Sources of this area; see src/CMakeLists.txt.
# The two file lists of the main window.
target_sources(brindle_gui PRIVATE app/FileLists.h app/FileLists.cpp)

# Program start, the main window, the About window and the windows still to be built.
target_sources(brindle_gui PRIVATE
  app/MainForm.h app/MainForm.cpp
  app/ConversionStart.h app/ConversionStart.cpp
  app/AboutForm.h app/AboutForm.cpp
  app/ProgramWindows.h app/ProgramWindows.cpp
  app/ConfigInstance.h app/ConfigInstance.cpp
  app/Icons.h app/Icons.cpp
  app/WebPages.h
)
target_compile_definitions(brindle_gui PUBLIC BRINDLE_VERSION="${PROJECT_VERSION}")

# The manual stands beside the program in the build tree, as it does once installed
# (share/brindle/help), so that Help works from either.
configure_file(${PROJECT_SOURCE_DIR}/resources/help/index.html
  ${CMAKE_BINARY_DIR}/bin/help/index.html COPYONLY)

# The program icon in the sizes desktops ask for, drawn by the same code as the window icon.
add_executable(brindle_icon_render app/IconRender.cpp)
target_link_libraries(brindle_icon_render PRIVATE brindle_gui)
set(BRINDLE_ICON_DIR ${CMAKE_BINARY_DIR}/icons)
set(BRINDLE_ICON_PNGS)
foreach(size 16 24 32 48 64 128 256)
  list(APPEND BRINDLE_ICON_PNGS ${BRINDLE_ICON_DIR}/hicolor/${size}x${size}/apps/brindle.png)
endforeach()
add_custom_command(OUTPUT ${BRINDLE_ICON_PNGS}
  COMMAND brindle_icon_render ${BRINDLE_ICON_DIR}
  DEPENDS brindle_icon_render
  COMMENT "Rendering the program icon")
add_custom_target(brindle_icons ALL DEPENDS ${BRINDLE_ICON_PNGS})

install(FILES ${PROJECT_SOURCE_DIR}/resources/brindle.desktop DESTINATION share/applications)
install(FILES ${PROJECT_SOURCE_DIR}/resources/brindle.svg
  DESTINATION share/icons/hicolor/scalable/apps)
install(DIRECTORY ${BRINDLE_ICON_DIR}/hicolor DESTINATION share/icons)
install(FILES ${PROJECT_SOURCE_DIR}/resources/help/index.html DESTINATION share/brindle/help)
