# Cross-building for 64-bit Windows with Debian's mingw-w64 (POSIX threads, so
# std::thread and std::mutex work). The libraries come from
# scripts/windows-deps.sh, which builds them from Debian's source packages into
# one prefix: pass it as ACSERVER_WINDOWS_DEPS (make windows does).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(ACSERVER_WINDOWS_DEPS "" CACHE PATH "Prefix of the Windows libraries (scripts/windows-deps.sh)")
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${ACSERVER_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# CMake reads this file again for its compiler checks (try_compile): they get
# the prefix too, or they would point pkg-config (one environment for the
# whole run) away from it.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ACSERVER_WINDOWS_DEPS)

# pkg-config reads only the prefix's .pc files, never the Linux ones.
set(ENV{PKG_CONFIG_LIBDIR} "${ACSERVER_WINDOWS_DEPS}/lib/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
set(ENV{PKG_CONFIG_PATH} "")

# Every library is linked in statically, the C++ and threads runtimes too: the
# programs need no DLL beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
