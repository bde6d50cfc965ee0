# Cross build for 64-bit Windows with Debian's mingw-w64. The -posix variant of the
# compiler has std::thread and std::mutex (the -win32 one rejects them).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VYX_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VYX_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VYX_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VYX_MINGW_TRIPLET}-windres)

# Headers and libraries from the mingw sysroot only; programs from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${VYX_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ctest runs the Windows test programs under Wine (scripts/test-windows prepares the
# prefix and the environment).
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
