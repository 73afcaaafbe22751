# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (posix threads: std::thread, std::jthread).
# ZORVIK_WINDOWS_PREFIXES (a ;-list, from scripts/windows/deps) names the folders that hold the Windows
# builds of the libraries; nothing is looked up among the Linux ones.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER ${triple}-windres)
set(CMAKE_AR ${triple}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${triple}-gcc-ranlib-posix CACHE FILEPATH "")

# try_compile projects see only the cache: hand the prefixes on.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZORVIK_WINDOWS_PREFIXES)
set(CMAKE_FIND_ROOT_PATH /usr/${triple} ${ZORVIK_WINDOWS_PREFIXES})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config reads the Windows libraries' .pc files only, never the Linux ones.
set(pkg_config_dirs "")
foreach(prefix IN LISTS ZORVIK_WINDOWS_PREFIXES)
  list(APPEND pkg_config_dirs "${prefix}/lib/pkgconfig" "${prefix}/share/pkgconfig")
endforeach()
string(REPLACE ";" ":" pkg_config_dirs "${pkg_config_dirs}")
set(ENV{PKG_CONFIG_LIBDIR} "${pkg_config_dirs}")
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
