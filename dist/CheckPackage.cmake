# Checks a distributable package (run as a test with cmake -P): the archive lists exactly the expected
# files, the readme is there in both languages, the program and the library it holds import only
# system DLLs, and the library (stripped for the package) still exports its eight entry points. The
# files are checked as extracted from the archive: that is what a customer runs.
#   -DZIP=package.zip -DEXPECTED=a,b,c -DOBJDUMP=objdump -DWORK=scratch-directory
cmake_minimum_required(VERSION 3.21)
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/CheckImports.cmake)

if(NOT EXISTS "${ZIP}")
  message(FATAL_ERROR "the package ${ZIP} was not built")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${ZIP} OUTPUT_VARIABLE listing RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${ZIP} cannot be listed")
endif()
string(REPLACE "\n" ";" packaged "${listing}")
list(REMOVE_ITEM packaged "")
list(SORT packaged)
string(REPLACE "," ";" package_expected "${EXPECTED}")
list(SORT package_expected)
if(NOT "${packaged}" STREQUAL "${package_expected}")
  message(FATAL_ERROR "${ZIP} holds [${packaged}], expected [${package_expected}]")
endif()

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${ZIP} WORKING_DIRECTORY ${WORK} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${ZIP} cannot be extracted")
endif()

file(READ ${WORK}/LEEME-README.txt readme)
foreach(heading "CÓMO SE EJECUTA" "HOW TO RUN IT")
  string(FIND "${readme}" "${heading}" at)
  if(at LESS 0)
    message(FATAL_ERROR "the readme lacks \"${heading}\"")
  endif()
endforeach()

execute_process(COMMAND ${OBJDUMP} -p ${WORK}/KVXDiag2.exe OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump failed on KVXDiag2.exe")
endif()
kvx_check_imports("${dump}" "KVXDiag2.exe")
# The library's imports and exports, by the same check the build tree's library gets.
set(DLL ${WORK}/KVXDiagCore.dll)
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/CheckExports.cmake)
file(REMOVE_RECURSE ${WORK})
message(STATUS "${ZIP} holds ${package_expected}")
