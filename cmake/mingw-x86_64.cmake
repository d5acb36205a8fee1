# Cross-build of the same sources for 64-bit Windows (posix thread variant), run under wine64
# on machines whose kernel does not run 32-bit programs. The shipped program is the 32-bit one.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(ZORVEN_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
