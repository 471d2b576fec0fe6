# The imports check itself: it names the one unknown import of the canary and rejects it, passes both
# deliverables, and finds each deliverable's load-configuration entry with DependentLoadFlags set.
# cmake -DOBJDUMP= -DNM= -DPYTHON= -DCANARY= -DDELIVERABLES="a;b" -P CheckImportsTest.cmake
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/CheckImports.cmake)

execute_process(COMMAND ${OBJDUMP} -p ${CANARY} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${CANARY}")
endif()
kvx_unknown_imports("${dump}" unknown)
string(TOLOWER "${unknown}" unknown_lower)
if(NOT unknown_lower STREQUAL "uxtheme.dll")
  message(FATAL_ERROR "the canary's unknown imports are [${unknown}], expected [UxTheme.dll]")
endif()
# The build-time form of the check must fail on it, and say which DLL.
execute_process(COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${OBJDUMP} -DFILE=${CANARY}
                        -P ${CMAKE_CURRENT_LIST_DIR}/../../cmake/CheckImports.cmake
                RESULT_VARIABLE rc ERROR_VARIABLE err OUTPUT_QUIET)
if(rc EQUAL 0 OR NOT err MATCHES "imports UxTheme.dll")
  message(FATAL_ERROR "the check accepted the canary (exit ${rc}): ${err}")
endif()

foreach(file ${DELIVERABLES})
  execute_process(COMMAND ${OBJDUMP} -p ${file} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "objdump failed on ${file}")
  endif()
  kvx_check_imports("${dump}" "${file}")
  execute_process(COMMAND ${PYTHON} ${CMAKE_CURRENT_LIST_DIR}/../../scripts/pe-load-config.py --check --nm ${NM} ${file}
                  RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${file}: no load configuration restricting the imports' search")
  endif()
endforeach()
