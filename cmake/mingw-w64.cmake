# What both mingw-w64 toolchain files share: Debian's compilers of the
# triple in KVX_MINGW_TRIPLE (the posix-threads flavour) and its sysroot.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${KVX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KVX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KVX_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KVX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
