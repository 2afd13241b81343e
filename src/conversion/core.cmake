# Sources of this area; see src/CMakeLists.txt.
# The conversion engine's widget-free parts.
target_sources(brindle_core PRIVATE
  conversion/PathShorten.h conversion/PathShorten.cpp
)
