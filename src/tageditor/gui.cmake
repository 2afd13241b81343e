# Sources of this area; see src/CMakeLists.txt.
# The MPEG file information and ID3v1 tag editor window.
target_sources(brindle_gui PRIVATE tageditor/ID3TagForm.h tageditor/ID3TagForm.cpp)
