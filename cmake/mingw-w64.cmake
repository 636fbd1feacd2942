# Cross-build for 64-bit Windows with Debian's mingw-w64 (posix thread model,
# so std::thread and std::mutex work). Libraries the project builds for mingw
# (libpng, GLEW) live under FK_MINGW_PREFIX; zlib comes with
# libz-mingw-w64-dev. Programs built here run on Linux through Wine, both at
# build time (generators) and under ctest.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(FK_MINGW_TRIPLE x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${FK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${FK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${FK_MINGW_TRIPLE}-windres)

if(NOT FK_MINGW_PREFIX)
  set(FK_MINGW_PREFIX /var/cache/ferrumkit-mingw/prefix CACHE PATH "mingw builds of libpng and GLEW")
endif()
set(CMAKE_FIND_ROOT_PATH /usr/${FK_MINGW_TRIPLE} ${FK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# 64-bit file offsets (off_t, ftello, fseeko, truncate), as on Linux: the
# streams refuse files beyond 2 GiB instead of seeing wrapped sizes.
set(CMAKE_C_FLAGS_INIT "-D_FILE_OFFSET_BITS=64")
set(CMAKE_CXX_FLAGS_INIT "-D_FILE_OFFSET_BITS=64")

# The C++ and GCC runtimes go into every program, so that the folder a user
# unpacks needs no compiler DLLs beyond the thread library.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")

find_program(FK_WINE NAMES wine wine64)
if(FK_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${FK_WINE})
endif()
