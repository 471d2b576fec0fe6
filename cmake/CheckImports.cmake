# kvx_check_imports(DUMP LABEL): fails unless every DLL that an objdump -p dump imports statically is
# one of the system's known DLLs. The loader takes a known DLL from the system directory whatever lies
# beside the program; any other name is looked up in the program's folder first, so a copy planted in
# a download folder would run inside the elevated wizard. Libraries outside this list are loaded at
# run time from the system directory (common/win/LibraryLoading.h).
#
# The list is what the KnownDLLs key holds on every Windows from 7 to 11, plus one exception:
# comctl32, which both deliverables' process takes from the side-by-side store through the wizard's
# manifest (common controls 6), a redirection the loader applies before it searches any folder.
set(KVX_KNOWN_DLLS
  advapi32 clbcatq comdlg32 gdi32 imagehlp imm32 kernel32 msctf msvcrt normaliz nsi ole32 oleaut32 psapi
  rpcrt4 sechost setupapi shell32 shlwapi user32 wldap32 ws2_32
  comctl32)

# kvx_unknown_imports(DUMP OUT_VAR): the imported DLL names of the dump outside the list, as written.
function(kvx_unknown_imports dump out_var)
  string(REGEX MATCHALL "DLL Name: [^\n]+" dlls "${dump}")
  set(unknown)
  foreach(d ${dlls})
    string(REGEX REPLACE "DLL Name: " "" name "${d}")
    string(STRIP "${name}" name)
    string(TOLOWER "${name}" lname)
    string(REGEX REPLACE "\\.dll$" "" stem "${lname}")
    list(FIND KVX_KNOWN_DLLS "${stem}" known)
    if(known LESS 0)
      list(APPEND unknown ${name})
    endif()
  endforeach()
  set(${out_var} "${unknown}" PARENT_SCOPE)
endfunction()

function(kvx_check_imports dump label)
  string(REGEX MATCHALL "DLL Name: [^\n]+" dlls "${dump}")
  if(NOT dlls)
    message(FATAL_ERROR "${label}: no import table found")
  endif()
  kvx_unknown_imports("${dump}" unknown)
  if(unknown)
    string(REPLACE ";" ", " unknown_text "${unknown}")
    message(FATAL_ERROR "${label} imports ${unknown_text}, not among the system's known DLLs; "
                        "load it at run time from the system directory instead")
  endif()
  string(REGEX REPLACE "DLL Name: " "" names "${dlls}")
  message(STATUS "${label} imports only known DLLs: ${names}")
endfunction()

# Run as a script (cmake -DOBJDUMP=... -DFILE=... -P CheckImports.cmake): the check of one file, as
# the build runs it after linking each deliverable.
if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  execute_process(COMMAND ${OBJDUMP} -p ${FILE} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "objdump failed on ${FILE}")
  endif()
  get_filename_component(label "${FILE}" NAME)
  kvx_check_imports("${dump}" "${label}")
endif()

# kvx_harden_imports(TARGET): after each link, points the image's load-configuration directory at its
# record (scripts/pe-load-config.py) and fails the build when the image imports a DLL outside the list.
function(kvx_harden_imports target)
  find_program(KVX_PYTHON3 NAMES python3 REQUIRED)
  target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/common/win/LoadConfiguration.cpp)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${KVX_PYTHON3} ${CMAKE_SOURCE_DIR}/scripts/pe-load-config.py --nm ${CMAKE_NM} $<TARGET_FILE:${target}>
    COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${CMAKE_OBJDUMP} -DFILE=$<TARGET_FILE:${target}>
            -P ${CMAKE_SOURCE_DIR}/cmake/CheckImports.cmake
    VERBATIM)
endfunction()
