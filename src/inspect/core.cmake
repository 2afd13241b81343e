# Sources of this area; see src/CMakeLists.txt.
# The information texts of listed WAV and MPEG files.
target_sources(brindle_core PRIVATE inspect/InfoTexts.h inspect/InfoTexts.cpp)
# The parts of the MPEG audio inspection behind TMPEGAudio (listed with the engine): the
# record, header decoding, the ID3v1 block, positional file access and the frame search.
target_sources(brindle_core PRIVATE
  inspect/MpegInfo.h
  inspect/MpegHeader.h inspect/MpegHeader.cpp
  inspect/Id3v1.h inspect/Id3v1.cpp
  inspect/PositionalFile.h inspect/PositionalFile.cpp
  inspect/MpegFrameSearch.h inspect/MpegFrameSearch.cpp
)
