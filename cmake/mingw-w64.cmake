# Cross build for Windows with Debian's mingw-w64. The program itself is i486
# code tuned for the Pentium II (it has to start on every processor it names)
# with the win32 thread model (whose runtime imports only functions that
# Windows 98 and NT 4.0 have), linked statically. The windows preset sets the
# same flags, so that a build folder configured before takes them too.
#
# TORV_MINGW_ARCH=x86_64 builds the same sources for 64-bit Windows: the tests
# run them under 64-bit Wine, on machines that cannot run the 32-bit Wine
# loader. TORV_MINGW_THREADS=posix is for the test suites: GoogleTest needs
# std::mutex, which the win32 thread model of GCC 12 lacks.
set(TORV_MINGW_ARCH i686 CACHE STRING "Target of the cross compiler: i686 or x86_64")
set(TORV_MINGW_THREADS win32 CACHE STRING "Thread model of the cross compiler: win32 or posix")
set(torv_triple ${TORV_MINGW_ARCH}-w64-mingw32)

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${TORV_MINGW_ARCH})
set(CMAKE_SYSTEM_VERSION 4.0)

set(CMAKE_C_COMPILER ${torv_triple}-gcc-${TORV_MINGW_THREADS})
set(CMAKE_CXX_COMPILER ${torv_triple}-g++-${TORV_MINGW_THREADS})
set(CMAKE_RC_COMPILER ${torv_triple}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${torv_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

if(TORV_MINGW_ARCH STREQUAL "i686")
  set(CMAKE_C_FLAGS_INIT "-march=i486 -mtune=pentium2")
  set(CMAKE_CXX_FLAGS_INIT "-march=i486 -mtune=pentium2")
  set(torv_wine /usr/lib/wine/wine)
else()
  set(torv_wine /usr/lib/wine/wine64)
endif()
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs run through Wine.
if(EXISTS ${torv_wine})
  set(CMAKE_CROSSCOMPILING_EMULATOR ${torv_wine})
endif()
