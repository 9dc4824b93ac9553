# Warnings as errors on every build, for the project's own targets only.
add_library(camvue_warnings INTERFACE)
target_compile_options(camvue_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Werror -Wshadow -Wformat=2 -Wcast-align -Wnull-dereference
  -Wundef -Wvla)
if(WIN32)
  # 32-bit hosts may call in with a 4-byte aligned stack.
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    target_compile_options(camvue_warnings INTERFACE -mstackrealign)
  endif()
  target_compile_definitions(camvue_warnings INTERFACE WIN32_LEAN_AND_MEAN NOMINMAX
                                                       _WIN32_WINNT=0x0601)
endif()
