# Sources of this area; see src/CMakeLists.txt.
# The conversion engine's widget-free parts: the batch runner, normalisation, safe output
# files and path shortening.
target_sources(brindle_core PRIVATE
  conversion/ConvRunner.h conversion/ConvRunner.cpp conversion/ConvSlot.h
  conversion/EncodeJob.cpp conversion/DecodeJob.cpp
  conversion/Normalize.h conversion/Normalize.cpp
  conversion/SafeOutput.h conversion/SafeOutput.cpp
  conversion/Destinations.h conversion/Destinations.cpp
  conversion/ReportQueue.h conversion/ReportQueue.cpp
  conversion/QuestionGate.h conversion/QuestionGate.cpp
  conversion/PathShorten.h conversion/PathShorten.cpp
)
