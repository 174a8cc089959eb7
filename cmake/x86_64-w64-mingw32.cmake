# The same tree built for 64-bit Windows, only to run the tests under a Wine
# that runs no 32-bit program. The product is the 32-bit build
# (cmake/i686-w64-mingw32.cmake).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(KVX_MINGW_TRIPLE x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${KVX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KVX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KVX_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KVX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
