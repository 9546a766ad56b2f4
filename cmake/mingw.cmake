# Cross-builds for Windows with MinGW-w64. MINGW_TRIPLE picks the target: i686-w64-mingw32 (the
# 32-bit product, the default) or x86_64-w64-mingw32. The -posix compilers, because GoogleTest
# needs their std::mutex.
if(NOT MINGW_TRIPLE)
  set(MINGW_TRIPLE i686-w64-mingw32)
endif()
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
