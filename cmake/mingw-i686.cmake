# Cross-build for 32-bit Windows with mingw-w64 (posix thread variant), run under Wine.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(ZORVEN_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
