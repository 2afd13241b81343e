# Sources of this area; see src/CMakeLists.txt.
target_sources(brindle_gui PRIVATE
  settings/ConfigForm.h settings/ConfigForm.cpp
  settings/Help.h settings/Help.cpp
)
# A program run from its build folder finds the manual in the source tree.
set_source_files_properties(settings/Help.cpp PROPERTIES
  COMPILE_DEFINITIONS BRINDLE_SOURCE_HELP_DIR="${PROJECT_SOURCE_DIR}/resources/help")
