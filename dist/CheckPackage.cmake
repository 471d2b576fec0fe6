# Checks a distributable package (run as a test with cmake -P): the archive lists exactly the expected
# files and matches its line in SHA256SUMS; in the customer's package the readme is there in both
# languages (and, test-signed, says so), the program and the library import only system DLLs and keep
# the load-configuration record that confines the search of those imports, and the library (stripped
# for the package) still exports its eight entry points; every program of the package carries a valid
# SHA-256 Authenticode signature. The files are checked as extracted from the archive: that is what a
# customer (or a support engineer) runs.
#   -DZIP=package.zip -DEXPECTED=a,b,c -DOBJDUMP=objdump -DPYTHON=python3 -DWORK=scratch-directory
#   -DSUMS=SHA256SUMS -DSIGNING=test|pkcs12|pkcs11|unsigned -DOSSLSIGNCODE=path -DTEST_CA=pem
#   [-DLIBRARY=KVXDiagCore.dll: the customer's package]
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

get_filename_component(zip_name ${ZIP} NAME)
file(SHA256 ${ZIP} zip_sum)
file(STRINGS ${SUMS} sum_lines REGEX "  ${zip_name}$")
if(NOT sum_lines STREQUAL "${zip_sum}  ${zip_name}")
  message(FATAL_ERROR "SHA256SUMS has [${sum_lines}] for ${zip_name}, whose SHA-256 is ${zip_sum}")
endif()

set(programs ${packaged})
list(FILTER programs INCLUDE REGEX "\\.(exe|dll)$")
if(LIBRARY)
  file(READ ${WORK}/LEEME-README.txt readme)
  set(headings "CÓMO SE EJECUTA" "HOW TO RUN IT")
  if(SIGNING STREQUAL "test")
    list(APPEND headings "NOT FOR CUSTOMERS")
  endif()
  foreach(heading ${headings})
    string(FIND "${readme}" "${heading}" at)
    if(at LESS 0)
      message(FATAL_ERROR "the readme lacks \"${heading}\"")
    endif()
  endforeach()
  foreach(program ${programs})
    execute_process(COMMAND ${OBJDUMP} -p ${WORK}/${program} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "objdump failed on ${program}")
    endif()
    kvx_check_imports("${dump}" "${program}")
    execute_process(COMMAND ${PYTHON} ${CMAKE_CURRENT_LIST_DIR}/../scripts/pe-load-config.py --check
                            ${WORK}/${program} RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "${program}: the packaged image lost its load configuration")
    endif()
  endforeach()
  # The library's imports and exports, by the same check the build tree's library gets.
  set(DLL ${WORK}/${LIBRARY})
  include(${CMAKE_CURRENT_LIST_DIR}/../cmake/CheckExports.cmake)
endif()

# The test certificate is its own root; a real one chains to the system's roots.
if(NOT SIGNING STREQUAL "unsigned")
  set(trust)
  if(SIGNING STREQUAL "test")
    set(trust -CAfile ${TEST_CA})
  endif()
  foreach(program ${programs})
    execute_process(COMMAND ${OSSLSIGNCODE} verify ${trust} -in ${WORK}/${program}
                    OUTPUT_VARIABLE verified ERROR_VARIABLE verified RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0 OR NOT verified MATCHES "Message digest algorithm *: SHA256")
      message(FATAL_ERROR "${program}: the signature does not verify (exit ${rc}):\n${verified}")
    endif()
  endforeach()
  message(STATUS "${zip_name}: signatures verified (${SIGNING}) on ${programs}")
endif()
file(REMOVE_RECURSE ${WORK})
message(STATUS "${ZIP} holds ${package_expected}")
