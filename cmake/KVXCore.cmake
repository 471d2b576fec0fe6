# The core library: every core subsystem compiled once into an object library, so that the DLL and the
# test programs share the same objects and the self-registration of tasks, helpers and reporters runs
# in both (a static library would let the linker drop the unreferenced registration objects).
set(KVX_CORE_DIRS core/interface core/jobs core/tasks core/helpers core/report common/log)
set(KVX_CORE_SOURCES)
foreach(dir ${KVX_CORE_DIRS})
  file(GLOB dir_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${dir}/*.cpp)
  list(APPEND KVX_CORE_SOURCES ${dir_sources})
endforeach()
# The DLL entry point belongs to the DLL alone.
list(FILTER KVX_CORE_SOURCES EXCLUDE REGEX ".*/DllMain\\.cpp$")

add_library(kvxcore_objs OBJECT ${KVX_CORE_SOURCES})
target_compile_definitions(kvxcore_objs PUBLIC KVXDIAG_LOG_MODULE=0xDD000001u)
# The change journal is a static library of its own, so that a test build of the core can link a copy
# with kill points in its place: an object given first wins over the library's member.
add_library(kvx_journal_core STATIC ${CMAKE_SOURCE_DIR}/common/journal/ChangeJournal.cpp)
target_compile_definitions(kvx_journal_core PUBLIC KVXDIAG_LOG_MODULE=0xDD000001u)
target_include_directories(kvx_journal_core PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(kvx_journal_core PUBLIC advapi32)
target_link_libraries(kvxcore_objs PUBLIC kvx_journal_core)
if(TARGET kvx_archive)
  target_link_libraries(kvxcore_objs PUBLIC kvx_archive)
endif()
if(TARGET kvx_privacy)
  target_link_libraries(kvxcore_objs PUBLIC kvx_privacy)
endif()
set(KVX_CORE_SYSLIBS advapi32 ole32 oleaut32 uuid wbemuuid shlwapi user32 setupapi)
target_link_libraries(kvxcore_objs PUBLIC ${KVX_CORE_SYSLIBS})

add_library(KVXDiagCore SHARED
  ${CMAKE_SOURCE_DIR}/core/interface/DllMain.cpp
  ${CMAKE_SOURCE_DIR}/core/interface/KVXDiagCore.def
  ${CMAKE_SOURCE_DIR}/core/interface/KVXDiagCore.rc)
target_link_libraries(KVXDiagCore PRIVATE kvxcore_objs)
# The version block (KVXDiagCore.rc) reads the generated version header.
target_include_directories(KVXDiagCore PRIVATE ${KVX_GENERATED_DIR})
set_source_files_properties(${CMAKE_SOURCE_DIR}/core/interface/KVXDiagCore.rc PROPERTIES
  OBJECT_DEPENDS ${KVX_GENERATED_DIR}/KVXVersion.h)
set_target_properties(KVXDiagCore PROPERTIES PREFIX "" OUTPUT_NAME KVXDiagCore
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
# The .def names are undecorated; on i686 the linker maps them to the stdcall symbols (_0003_@8).
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  target_link_options(KVXDiagCore PRIVATE -Wl,--kill-at -Wl,--enable-stdcall-fixup)
endif()

include(${CMAKE_SOURCE_DIR}/cmake/CheckImports.cmake)
kvx_harden_imports(KVXDiagCore)

# The exports must carry exactly the eight undecorated names, and the DLL may import only system DLLs.
add_test(NAME core_exports
  COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${CMAKE_OBJDUMP} -DDLL=$<TARGET_FILE:KVXDiagCore>
          -P ${CMAKE_SOURCE_DIR}/cmake/CheckExports.cmake)
