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

# Reproducible images: two builds of one commit, in any two folders, must give the same bytes. GNU ld
# stamps the link time into the PE header (and a DLL's export directory) unless told not to, and the
# compiler writes source and build paths into whatever names a file (__FILE__, assertions, debug
# information); the prefix map makes those paths relative to the checkout and the build tree.
set(KVX_REPRODUCIBLE_COMPILE_FLAGS
  "-ffile-prefix-map=${CMAKE_SOURCE_DIR}/=./ -ffile-prefix-map=${CMAKE_BINARY_DIR}/=build/")
set(CMAKE_C_FLAGS_INIT   "${KVX_REPRODUCIBLE_COMPILE_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${KVX_REPRODUCIBLE_COMPILE_FLAGS}")
set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static -Wl,--no-insert-timestamp")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -Wl,--no-insert-timestamp")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -Wl,--no-insert-timestamp")
