# Cross-builds the 32-bit Windows programs with Debian's mingw-w64 (posix
# threads). The runtime is linked statically, so the programs need no DLL
# but the player library.
set(CMAKE_SYSTEM_NAME Windows)
if(NOT VARNEL_MINGW_TRIPLE)
  set(CMAKE_SYSTEM_PROCESSOR i686)
  set(VARNEL_MINGW_TRIPLE i686-w64-mingw32)
endif()

set(CMAKE_C_COMPILER ${VARNEL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VARNEL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VARNEL_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VARNEL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# winpthreads statically too: -static takes the archive of every library.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests run the programs under Wine (wine64 for the 64-bit build: Debian's
# wine wrapper prefers the 32-bit loader whenever it is installed).
if(NOT VARNEL_WINE)
  set(VARNEL_WINE wine)
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${VARNEL_WINE})

# The runtime's POSIX functions the sources use (localtime_r, ...); Unicode
# system calls by default.
set(CMAKE_C_FLAGS_INIT "-D_POSIX_THREAD_SAFE_FUNCTIONS=200112L -DUNICODE -D_UNICODE")
set(CMAKE_CXX_FLAGS_INIT "-D_POSIX_THREAD_SAFE_FUNCTIONS=200112L -DUNICODE -D_UNICODE")
