# Sources of this area; see src/CMakeLists.txt.
target_sources(brindle_gui PRIVATE
  conversion/ConfirmOvwrtForm.h conversion/ConfirmOvwrtForm.cpp
  conversion/DispForm.h conversion/DispForm.cpp
  conversion/DirLabel.h conversion/DirLabel.cpp
  conversion/ConvForm.h conversion/ConvForm.cpp
)
