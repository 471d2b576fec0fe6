# The version header that the resource scripts of both deliverables include, generated from the
# project's version so that the file properties, the package name and CMake agree.
set(KVX_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_SOURCE_DIR}/cmake/KVXVersion.h.in ${KVX_GENERATED_DIR}/KVXVersion.h @ONLY)
