# The checked build (preset mingw-x64-checked): the same sources and tests, compiled so that a wrong
# memory access or an undefined operation stops the program where it happens instead of reading a
# neighbour or wrapping silently. Every check traps (an illegal instruction, exception 0xC000001D,
# or a fast-fail from the stack protector and the fortified functions) with no runtime library to
# ship, so the test that met it fails and CTest names it.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  message(FATAL_ERROR "The checked build needs GCC (MinGW-w64): its checks are GCC's")
endif()

# The C++ library's own checks: operator[] and front/back out of range, an empty container's
# element, and the like.
add_compile_definitions(_GLIBCXX_ASSERTIONS)

# Undefined behaviour traps in place: MinGW-w64 ships no sanitizer runtime. Every check of
# -fsanitize=undefined builds and links for Windows targets except vptr, which needs that runtime
# and which GCC leaves out by itself when the checks trap.
add_compile_options(-fsanitize=undefined -fsanitize-undefined-trap-on-error)

# Stack protection, and the fortified string functions of MinGW-w64's headers (memcpy, memset,
# strcpy and their kin check the size of the destination that the compiler can see). Both call
# into libssp, linked statically: the release binaries need no DLL beyond the C++ runtime, and the
# checked ones need no other either.
add_compile_options(-fstack-protector-strong)
add_compile_definitions(_FORTIFY_SOURCE=2)
link_libraries(-l:libssp.a)
