# Sources of this area; see src/CMakeLists.txt.
# The file lists' records and list logic, and playlist import.
target_sources(brindle_core PRIVATE
  app/FileParam.h app/FileParam.cpp
  app/PlaylistImport.h app/PlaylistImport.cpp
)
