# Cross build of the Windows program with mingw-w64 for 32-bit x86: the handheld is a
# 32-bit machine, so this build runs the wine tests under 32-bit wine (wine32).
#   cmake -S . -B build-win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
set(AUTORUN_MINGW_PREFIX i686-w64-mingw32 CACHE STRING "Target triple of the mingw-w64 tools")
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-x86_64.cmake)
