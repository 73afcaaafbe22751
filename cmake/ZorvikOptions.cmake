# One INTERFACE target carries the compile options every zorvik target shares.
add_library(zorvik_options INTERFACE)

# Sources for one operating system: *_posix.cpp or *_win32.cpp; this pattern matches the other system's.
if(WIN32)
  set(ZORVIK_OTHER_OS_SOURCES "_posix\\.cpp$")
else()
  set(ZORVIK_OTHER_OS_SOURCES "_win32\\.cpp$")
endif()
target_compile_features(zorvik_options INTERFACE cxx_std_20)
set(CMAKE_CXX_EXTENSIONS OFF)
target_compile_options(zorvik_options INTERFACE
  -Wall -Wextra -Wpedantic -Wold-style-cast -Wnon-virtual-dtor)
# clang has no -Wshadow=local; its -Wshadow would also flag the constructor parameters named after members.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  target_compile_options(zorvik_options INTERFACE -Wshadow=local)
endif()
# GCC 12 reports impossible overlaps in std::string concatenation at -O2 (a known false positive of
# its -Wrestrict, fixed in GCC 13).
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_compile_options(zorvik_options INTERFACE -Wno-restrict)
endif()
if(WIN32)
  # Windows 10 API level; <windows.h> without its min/max macros; localtime_r and gmtime_r from mingw-w64's
  # <time.h>. -static links the C++ runtime, libgcc and winpthread in, so a program imports only system
  # DLLs and nothing needs to be shipped beside it.
  target_compile_definitions(zorvik_options INTERFACE _WIN32_WINNT=0x0A00 WINVER=0x0A00 NOMINMAX
                                                      WIN32_LEAN_AND_MEAN _POSIX_THREAD_SAFE_FUNCTIONS=200112L)
  target_link_options(zorvik_options INTERFACE -static)
endif()
if(ZORVIK_WERROR)
  target_compile_options(zorvik_options INTERFACE -Werror)
endif()
if(ZORVIK_BUILD_FUZZ)
  # Coverage feedback for the fuzzer in every library; the harnesses link libFuzzer's main (fuzz/).
  target_compile_options(zorvik_options INTERFACE
    -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_link_options(zorvik_options INTERFACE -fsanitize=address,undefined)
elseif(ZORVIK_SANITIZE)
  target_compile_options(zorvik_options INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_link_options(zorvik_options INTERFACE -fsanitize=address,undefined)
endif()
if(ZORVIK_SANITIZE_THREAD)
  if(ZORVIK_SANITIZE)
    message(FATAL_ERROR "ZORVIK_SANITIZE_THREAD and ZORVIK_SANITIZE cannot be combined: use two build folders")
  endif()
  # -O1: the tests wait on real time, and unoptimised code under ThreadSanitizer misses their deadlines.
  target_compile_options(zorvik_options INTERFACE -fsanitize=thread -fno-omit-frame-pointer -O1)
  target_link_options(zorvik_options INTERFACE -fsanitize=thread)
endif()

# Rebuilds in other checkouts of the tree (CI's clean clone, work trees) reuse what ccache already compiled.
find_program(ZORVIK_CCACHE ccache)
if(ZORVIK_CCACHE AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
  set(CMAKE_CXX_COMPILER_LAUNCHER ${CMAKE_COMMAND} -E env CCACHE_BASEDIR=${PROJECT_SOURCE_DIR}
                                  CCACHE_NOHASHDIR=true ${ZORVIK_CCACHE})
  set(CMAKE_C_COMPILER_LAUNCHER ${CMAKE_CXX_COMPILER_LAUNCHER})
endif()
