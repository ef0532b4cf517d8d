# Cross build for 32-bit Windows with Debian's MinGW-w64 (package g++-mingw-w64-i686).
set(KEYTWINE_MINGW_TARGET i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
