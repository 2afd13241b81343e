# Sources of this area; see src/CMakeLists.txt.
# The conversion engine: the batch runner, normalisation and safe output files.
target_sources(brindle_core PRIVATE
  conversion/ConvRunner.h conversion/ConvRunner.cpp
  conversion/Normalize.h conversion/Normalize.cpp
  conversion/SafeOutput.h conversion/SafeOutput.cpp
)
