# Cross-builds for Windows with mingw-w64, the posix thread model (std::thread and std::mutex
# through winpthreads), for the processor the including toolchain file names in
# QZ7_MINGW_TRIPLE. The programs run on this machine under Wine, through the wrapper that ctest
# uses as the emulator; it picks Wine's loader for each program's machine type.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${QZ7_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QZ7_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QZ7_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QZ7_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The compiler's own runtime (libgcc, libstdc++, winpthread) goes into each program, so that
# nothing but the system's DLLs and our own has to be found beside it under Wine.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
