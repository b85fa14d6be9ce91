# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (POSIX threads).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config reads only the target's own prefixes (CMAKE_FIND_ROOT_PATH,
# which scripts/stage-windows sets), never the build machine's packages.
# The compiler checks read this file again without the prefixes, in the
# same process: they leave the variable alone.
if(CMAKE_FIND_ROOT_PATH)
  list(TRANSFORM CMAKE_FIND_ROOT_PATH APPEND /lib/pkgconfig OUTPUT_VARIABLE _tessarils_pkgconfig_dirs)
  list(JOIN _tessarils_pkgconfig_dirs ":" _tessarils_pkgconfig_dirs)
  set(ENV{PKG_CONFIG_LIBDIR} "${_tessarils_pkgconfig_dirs}")
endif()
