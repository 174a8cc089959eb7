# The same tree built for 64-bit Windows, only to run the tests under a Wine
# that runs no 32-bit program. The product is the 32-bit build
# (cmake/i686-w64-mingw32.cmake).
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(KVX_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
