# SPDX-License-Identifier: MIT
# Fails when a C or C++ source of the project does not follow .clang-format.
#   cmake -DCLANG_FORMAT=<path> -DSOURCE_DIR=<top of the tree> -P checkformat.cmake
file(GLOB_RECURSE sources RELATIVE ${SOURCE_DIR}
    ${SOURCE_DIR}/app/*.cpp ${SOURCE_DIR}/bench/*.cpp ${SOURCE_DIR}/bench/*.h
    ${SOURCE_DIR}/metrics/*.cpp ${SOURCE_DIR}/metrics/*.h
    ${SOURCE_DIR}/printers/*.cpp ${SOURCE_DIR}/printers/*.h
    ${SOURCE_DIR}/printersim/*.cpp ${SOURCE_DIR}/printersim/*.h ${SOURCE_DIR}/printersim/*.c
    ${SOURCE_DIR}/qvlmstat/*.cpp ${SOURCE_DIR}/qvlmstat/*.h
    ${SOURCE_DIR}/status/*.cpp ${SOURCE_DIR}/status/*.h
    ${SOURCE_DIR}/usbprinter/*.cpp ${SOURCE_DIR}/usbprinter/*.h
    ${SOURCE_DIR}/tests/*.cpp ${SOURCE_DIR}/tests/*.h ${SOURCE_DIR}/tests/*.c
    ${SOURCE_DIR}/window/*.cpp ${SOURCE_DIR}/window/*.h)
execute_process(COMMAND ${CLANG_FORMAT} --dry-run -Werror ${sources}
    WORKING_DIRECTORY ${SOURCE_DIR} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "These sources do not follow .clang-format; run clang-format -i on them.")
endif()
