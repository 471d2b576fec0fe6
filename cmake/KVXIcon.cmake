# The application icon is drawn at build time, from the same code that draws the wizard's emblem, by
# a small program compiled for the build host (tools/kvxicon). The cross compiler cannot be used for
# it: the icon is needed to compile the Windows resources, before anything could run under Wine.
find_program(KVX_HOST_CXX NAMES c++ g++ clang++ REQUIRED)

set(KVX_ICON_GENERATOR ${CMAKE_BINARY_DIR}/host/kvxicongen)
set(kvx_icon_generator_sources
  ${CMAKE_SOURCE_DIR}/tools/kvxicon/IconGenerator.cpp
  ${CMAKE_SOURCE_DIR}/wizard/IconCanvas.cpp
  ${CMAKE_SOURCE_DIR}/wizard/WizardEmblem.cpp
  ${CMAKE_SOURCE_DIR}/core/archive/DeflateEncoder.cpp
  ${CMAKE_SOURCE_DIR}/core/archive/HuffmanCode.cpp
  ${CMAKE_SOURCE_DIR}/core/archive/Crc32.cpp
  ${CMAKE_SOURCE_DIR}/core/archive/Crc32Carryless.cpp
  ${CMAKE_SOURCE_DIR}/core/archive/ProcessorFeatures.cpp)
set(kvx_icon_generator_headers
  ${CMAKE_SOURCE_DIR}/wizard/IconCanvas.h
  ${CMAKE_SOURCE_DIR}/wizard/WizardEmblem.h
  ${CMAKE_SOURCE_DIR}/core/archive/DeflateEncoder.h
  ${CMAKE_SOURCE_DIR}/core/archive/HuffmanCode.h
  ${CMAKE_SOURCE_DIR}/core/archive/Crc32.h
  ${CMAKE_SOURCE_DIR}/core/archive/ByteStreams.h)

# The generator is held to the same warning rule as the rest of our code.
set(kvx_host_werror)
if(KVX_WERROR)
  set(kvx_host_werror -Werror)
endif()

# kvx_add_application_icon(TARGET RC_FILE): draws KVXDiag2.ico into the generated directory, where the
# resource compiler finds it beside the version header, and rebuilds the resources when it changes.
function(kvx_add_application_icon target rc_file)
  set(ico ${KVX_GENERATED_DIR}/KVXDiag2.ico)
  add_custom_command(OUTPUT ${KVX_ICON_GENERATOR}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/host
    COMMAND ${KVX_HOST_CXX} -std=c++17 -O2 -Wall -Wextra ${kvx_host_werror} -I${CMAKE_SOURCE_DIR}
            ${kvx_icon_generator_sources} -o ${KVX_ICON_GENERATOR}
    DEPENDS ${kvx_icon_generator_sources} ${kvx_icon_generator_headers}
    COMMENT "Building the icon generator for the build host"
    VERBATIM)
  add_custom_command(OUTPUT ${ico}
    COMMAND ${KVX_ICON_GENERATOR} ${ico}
    DEPENDS ${KVX_ICON_GENERATOR}
    COMMENT "Drawing the application icon"
    VERBATIM)
  target_sources(${target} PRIVATE ${ico})
  target_include_directories(${target} PRIVATE ${KVX_GENERATED_DIR})
  set_property(SOURCE ${rc_file} APPEND PROPERTY OBJECT_DEPENDS
    ${ico} ${KVX_GENERATED_DIR}/KVXVersion.h ${CMAKE_SOURCE_DIR}/wizard/WizardResources.h)
endfunction()
