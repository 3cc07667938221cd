# SPDX-License-Identifier: MIT
# Checks the built stand-in: its dynamic symbol table defines exactly the maker's two
# functions and the optional GetStatusReason, its SONAME is its file name, it stays loaded once loaded (NODELETE), and it needs
# no Qt library.
# cmake -DLIBRARY=path -DNM=nm -DREADELF=readelf -P checkexports.cmake

execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
    OUTPUT_VARIABLE symbols RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${symbols}")
set(defined "")
foreach(line IN LISTS lines)
    # "address type name"
    if(line MATCHES "^[0-9a-fA-F]* *([A-Za-z]) (.+)$")
        list(APPEND defined "${CMAKE_MATCH_2} (${CMAKE_MATCH_1})")
    endif()
endforeach()
list(SORT defined)
set(expected "GetLMStatus (T);GetPrinterStatus (T);GetStatusReason (T)")
if(NOT defined STREQUAL expected)
    message(FATAL_ERROR "${LIBRARY} exports\n  ${defined}\ninstead of\n  ${expected}")
endif()

execute_process(COMMAND ${READELF} -d ${LIBRARY}
    OUTPUT_VARIABLE dynamic RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${READELF} failed on ${LIBRARY}")
endif()
if(NOT dynamic MATCHES "\\(SONAME\\)[^\n]*\\[libQVLMSTAT\\.so\\]")
    message(FATAL_ERROR "${LIBRARY} has not the SONAME libQVLMSTAT.so:\n${dynamic}")
endif()
if(NOT dynamic MATCHES "\\(FLAGS_1\\)[^\n]*NODELETE")
    message(FATAL_ERROR "${LIBRARY} is not marked NODELETE:\n${dynamic}")
endif()
if(dynamic MATCHES "\\(NEEDED\\)[^\n]*\\[libQt")
    message(FATAL_ERROR "${LIBRARY} needs Qt:\n${dynamic}")
endif()
message(STATUS "${LIBRARY} exports ${defined}")
