# What the packaging tests check, made afresh from the current build tree (which must be built):
#
#   cmake -DMODE=install -DBUILD_DIR=<build> -DOUTPUT_DIR=<prefix> -P fixture.cmake
#       "cmake --install" into <prefix>
#   cmake -DMODE=package -DCPACK=<cpack> -DBUILD_DIR=<build> -DOUTPUT_DIR=<dir> -P fixture.cmake
#       the Debian package, made by CPack in <dir>
#
# <prefix> or <dir> is emptied first, so that nothing of an earlier run is checked.

foreach(variable MODE BUILD_DIR OUTPUT_DIR)
    if(NOT ${variable})
        message(FATAL_ERROR "fixture.cmake: ${variable} is not set")
    endif()
endforeach()

file(REMOVE_RECURSE ${OUTPUT_DIR})
file(MAKE_DIRECTORY ${OUTPUT_DIR})
if(MODE STREQUAL "install")
    execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${OUTPUT_DIR}
        COMMAND_ERROR_IS_FATAL ANY)
elseif(MODE STREQUAL "package")
    if(NOT CPACK)
        message(FATAL_ERROR "fixture.cmake: CPACK is not set")
    endif()
    execute_process(COMMAND ${CPACK} --config ${BUILD_DIR}/CPackConfig.cmake -B ${OUTPUT_DIR}
        COMMAND_ERROR_IS_FATAL ANY)
else()
    message(FATAL_ERROR "fixture.cmake: unknown MODE ${MODE}")
endif()
