# What both MinGW-w64 cross builds share; the toolchain files set KEYTWINE_MINGW_TARGET (the
# compilers' prefix) and CMAKE_SYSTEM_PROCESSOR first.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_CXX_COMPILER ${KEYTWINE_MINGW_TARGET}-g++-posix)
set(CMAKE_RC_COMPILER ${KEYTWINE_MINGW_TARGET}-windres)
# The "-posix" suffix hides the prefix from CMake's search for binutils: name the ones used.
set(CMAKE_STRIP ${KEYTWINE_MINGW_TARGET}-strip CACHE FILEPATH "")
set(CMAKE_OBJDUMP ${KEYTWINE_MINGW_TARGET}-objdump CACHE FILEPATH "")
set(CMAKE_FIND_ROOT_PATH /usr/${KEYTWINE_MINGW_TARGET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Static runtime: the programs must start on a machine without MinGW's DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
