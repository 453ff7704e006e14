# Template of a toolchain file for the handheld: ARM Windows CE 5 / Windows Mobile 5 and
# 6, with a GCC-style cross compiler. Fill in the placeholders below (or pass them with
# -D), then:
#
#   cmake -S . -B build-ce -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/windows-ce-arm.cmake \
#         -DAUTORUN_WINCE_PREFIX=arm-mingw32ce -DAUTORUN_WINCE_ROOT=/opt/mingw32ce
#   cmake --build build-ce
#
# This builds autorun.exe alone, against coredll and commctrl (src/platform/win32). The
# compiler must take the C++20 that the installer is written in; README.md, "A build for
# the handheld", says which compilers come near. An MSVC-style SDK compiler needs a file of
# its own (CMake's WindowsCE platform with a Visual Studio generator).
set(CMAKE_SYSTEM_NAME WindowsCE)
# The device's Windows CE version (5.01 for Windows Mobile 5 and 6); the build passes it to
# the code as _WIN32_WCE (AUTORUN_WINCE_VERSION).
set(CMAKE_SYSTEM_VERSION 5.01)
set(CMAKE_SYSTEM_PROCESSOR arm)

# Placeholder: the target prefix of the cross tools, as in <prefix>-g++ and <prefix>-windres
# (arm-mingw32ce for CeGCC).
set(AUTORUN_WINCE_PREFIX "arm-mingw32ce" CACHE STRING
    "Target prefix of the ARM Windows CE cross tools (<prefix>-g++, <prefix>-windres)")
# Placeholder: the folder holding the device's headers and import libraries (coredll,
# commctrl) as include/ and lib/. Empty: the compiler's own.
set(AUTORUN_WINCE_ROOT "" CACHE PATH "Root of the ARM Windows CE headers and libraries")
# Placeholder: what the device's linker needs beyond the libraries, for example the
# subsystem version of the image header.
set(AUTORUN_WINCE_LINK_FLAGS "" CACHE STRING "Extra link flags of the ARM Windows CE build")

set(CMAKE_C_COMPILER ${AUTORUN_WINCE_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${AUTORUN_WINCE_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${AUTORUN_WINCE_PREFIX}-windres)
set(CMAKE_AR ${AUTORUN_WINCE_PREFIX}-ar CACHE FILEPATH "Archiver")
set(CMAKE_RANLIB ${AUTORUN_WINCE_PREFIX}-ranlib CACHE FILEPATH "Ranlib")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${AUTORUN_WINCE_LINK_FLAGS}")

if(AUTORUN_WINCE_ROOT)
  set(CMAKE_FIND_ROOT_PATH ${AUTORUN_WINCE_ROOT})
  set(CMAKE_C_STANDARD_INCLUDE_DIRECTORIES ${AUTORUN_WINCE_ROOT}/include)
  set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES ${AUTORUN_WINCE_ROOT}/include)
  string(APPEND CMAKE_EXE_LINKER_FLAGS_INIT " -L${AUTORUN_WINCE_ROOT}/lib")
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# A cross compiler's test program may not link without the device's start-up files.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
