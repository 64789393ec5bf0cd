# Sanitizer builds apply to every target (project code, tests and tools alike),
# so they are set globally rather than per target.
if(VANTOREL_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(VANTOREL_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT VANTOREL_SANITIZE STREQUAL "")
  message(FATAL_ERROR "VANTOREL_SANITIZE must be empty, 'address' or 'thread'")
endif()
