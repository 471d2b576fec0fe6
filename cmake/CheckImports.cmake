# kvx_check_imports(DUMP LABEL): fails unless every DLL that an objdump -p dump imports is a DLL that
# every Windows system has. A deliverable that imports anything else (the MinGW runtime DLLs above all,
# when -static is lost) does not start on a customer's machine, and only there would anyone notice.
set(KVX_SYSTEM_DLLS
  kernel32 user32 gdi32 advapi32 comctl32 comdlg32 shell32 shlwapi ole32 oleaut32 msvcrt msimg32 uxtheme
  setupapi version ws2_32 iphlpapi rpcrt4 netapi32 winmm)

function(kvx_check_imports dump label)
  string(REGEX MATCHALL "DLL Name: [^\n]+" dlls "${dump}")
  if(NOT dlls)
    message(FATAL_ERROR "${label}: no import table found")
  endif()
  set(names)
  foreach(d ${dlls})
    string(REGEX REPLACE "DLL Name: " "" name "${d}")
    string(STRIP "${name}" name)
    string(TOLOWER "${name}" lname)
    string(REGEX REPLACE "\\.dll$" "" stem "${lname}")
    list(FIND KVX_SYSTEM_DLLS "${stem}" known)
    if(known LESS 0)
      message(FATAL_ERROR "${label} imports ${name}, which is not a system DLL")
    endif()
    list(APPEND names ${name})
  endforeach()
  message(STATUS "${label} imports only system DLLs: ${names}")
endfunction()
