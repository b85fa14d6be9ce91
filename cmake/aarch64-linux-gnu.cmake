# Cross-compiles for arm64 Linux from the x86-64 toolchain root, against the
# headers and libraries of the arm64 root (scripts/in-root mounts it at
# /arm64-root), so that only the tests need the emulator.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_SYSROOT /arm64-root)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${CMAKE_SYSROOT}")
set(ENV{PKG_CONFIG_LIBDIR} "${CMAKE_SYSROOT}/usr/lib/aarch64-linux-gnu/pkgconfig:${CMAKE_SYSROOT}/usr/share/pkgconfig")

# FindPython asks no interpreter for the target when cross-compiling: the
# arm64 one's headers are named here, and its extension suffix for
# python_module/CMakeLists.txt (FindPython clears a Python_SOABI set here).
set(Python_INCLUDE_DIR "${CMAKE_SYSROOT}/usr/include/python3.14")
set(TESSARILS_PYTHON_SOABI cpython-314-aarch64-linux-gnu)
