# Whole-tree sanitizer builds: -DQZ417_SANITIZE=address (ASan + UBSan) or thread (TSan).
# -DQZ417_FUZZ=ON (clang only) adds the libFuzzer harnesses of fuzz/ and
# instruments every target for coverage; it implies address unless another
# sanitizer was chosen.
option(QZ417_FUZZ "Build the libFuzzer harnesses (clang only)" OFF)

if(QZ417_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "QZ417_FUZZ needs clang (libFuzzer); configure with CXX=clang++ CC=clang")
  endif()
  if(QZ417_SANITIZE STREQUAL "")
    set(QZ417_SANITIZE address CACHE STRING "" FORCE)
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

if(QZ417_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(QZ417_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT QZ417_SANITIZE STREQUAL "")
  message(FATAL_ERROR "QZ417_SANITIZE must be empty, 'address' or 'thread'")
endif()

# clang links the sanitizer runtime statically into executables only, so the
# shared qz417link (linked with --no-undefined) needs the shared runtime.
if(NOT QZ417_SANITIZE STREQUAL "" AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  add_link_options(-shared-libsan)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-runtime-dir
                  OUTPUT_VARIABLE QZ417_SANITIZER_RUNTIME_DIR
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(QZ417_SANITIZER_RUNTIME_DIR)
    list(APPEND CMAKE_BUILD_RPATH ${QZ417_SANITIZER_RUNTIME_DIR})
  endif()
endif()
