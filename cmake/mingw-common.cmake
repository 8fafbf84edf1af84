# Shared part of the mingw-w64 toolchain files, which set
# VIDOZIR_MINGW_TRIPLE and CMAKE_SYSTEM_PROCESSOR first. The posix-thread
# compilers are used (they have std::thread); ctest runs the resulting
# programs under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${VIDOZIR_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VIDOZIR_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VIDOZIR_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VIDOZIR_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
