# 64-bit Windows (x86-64): 24-byte sqlfvald records, run by Wine's 64-bit loader.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QZ7_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
