# The Windows build of the tool: 32-bit, with Debian's mingw-w64 (posix
# threads). Select it with -DCMAKE_TOOLCHAIN_FILE=cmake/i686-w64-mingw32.cmake.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(KVX_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
