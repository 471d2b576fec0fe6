# Shared part of the two mingw toolchain files. The -posix compilers are required: std::thread and
# std::mutex need the winpthreads model, and -static keeps libwinpthread-1.dll out of the imports.
set(CMAKE_C_COMPILER   ${KVX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KVX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${KVX_MINGW_TRIPLE}-windres)
set(CMAKE_OBJDUMP      ${KVX_MINGW_TRIPLE}-objdump)
set(CMAKE_FIND_ROOT_PATH /usr/${KVX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
