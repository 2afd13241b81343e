# The conversion engine without windows.
brindle_add_test(conversion_test core conversion/conv_runner_test.cpp)
