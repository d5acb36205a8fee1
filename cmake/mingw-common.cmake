# The mingw-w64 cross toolchain (posix thread variant) for the target that the including
# toolchain file names in ZORVEN_MINGW_PREFIX and CMAKE_SYSTEM_PROCESSOR.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${ZORVEN_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZORVEN_MINGW_PREFIX}-g++-posix)
set(CMAKE_ASM_COMPILER ${ZORVEN_MINGW_PREFIX}-gcc-posix)
set(CMAKE_RC_COMPILER ${ZORVEN_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZORVEN_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static libgcc, libstdc++ and winpthread: the programs need no DLL beyond Windows' own.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Programs and tests run under Wine. The project replaces this with a wrapper that pins a
# private Wine prefix inside the build tree.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
