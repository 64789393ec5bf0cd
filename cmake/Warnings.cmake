# Every target of the project gets the same warnings through this interface library.
add_library(vantorel_warnings INTERFACE)
target_compile_options(vantorel_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast
  -Wcast-align -Woverloaded-virtual -Wimplicit-fallthrough
  -Wformat=2)
# GCC 12 reports impossible overlaps inside libstdc++'s string concatenation
# when optimising hard (a known false positive); it says nothing about our code.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_compile_options(vantorel_warnings INTERFACE -Wno-restrict)
endif()
