# Test programs that run through CMAKE_CROSSCOMPILING_EMULATOR (wine): wine
# takes seconds to start a program, far more than the 5 s GoogleTest gives
# a test program to list its tests. The lists are taken when ctest runs, so
# building needs no wine.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
macro(gtest_discover_tests)
  _gtest_discover_tests(${ARGV} DISCOVERY_TIMEOUT 60)
endmacro()
