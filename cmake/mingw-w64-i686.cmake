# 32-bit Windows (x86), the ABI the setup program's interface is written for: 12-byte sqlfvald
# records and 32-bit pointers, run by Wine's 32-bit loader.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(QZ7_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
