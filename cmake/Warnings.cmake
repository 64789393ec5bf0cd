# Every target of the project gets the same warnings through this interface library.
add_library(vantorel_warnings INTERFACE)
target_compile_options(vantorel_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast
  -Wcast-align -Woverloaded-virtual -Wimplicit-fallthrough
  -Wformat=2)
