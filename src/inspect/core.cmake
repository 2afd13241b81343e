# Sources of this area; see src/CMakeLists.txt.
# The information texts of listed WAV and MPEG files.
target_sources(brindle_core PRIVATE inspect/InfoTexts.h inspect/InfoTexts.cpp)
