# What both mingw-w64 toolchains share. The -posix compilers are used because
# GCC's win32 thread model has no std::mutex, which GoogleTest needs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 6.1)
if(OPCMON_MINGW_TRIPLE MATCHES "^x86_64")
  set(CMAKE_SYSTEM_PROCESSOR AMD64)
else()
  set(CMAKE_SYSTEM_PROCESSOR x86)
endif()

set(CMAKE_C_COMPILER ${OPCMON_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${OPCMON_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${OPCMON_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${OPCMON_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Everything linked statically: the programs and the server DLL need no
# runtime DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
