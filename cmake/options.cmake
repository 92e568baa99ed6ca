# Compiler warnings and the sanitizer configurations.
set(VORLANE_SANITIZE "" CACHE STRING "Sanitizer build: empty, 'address' (ASan with UBSan) or 'thread'")

add_compile_options(-Wall -Wextra)

if(VORLANE_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  # GCC 12's flow analysis under ASan reports libstdc++'s own std::function
  # moves (inside <regex>) as maybe-uninitialized; the normal build keeps the
  # warning on for project code.
  add_compile_options(-Wno-maybe-uninitialized)
  add_link_options(-fsanitize=address,undefined)
elseif(VORLANE_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT VORLANE_SANITIZE STREQUAL "")
  message(FATAL_ERROR "VORLANE_SANITIZE must be empty, 'address' or 'thread'")
endif()
