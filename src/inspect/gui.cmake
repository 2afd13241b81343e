# Sources of this area; see src/CMakeLists.txt.
# The WAV file information window.
target_sources(brindle_gui PRIVATE inspect/WaveInfoForm.h inspect/WaveInfoForm.cpp)
