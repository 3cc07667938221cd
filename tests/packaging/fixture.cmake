# SPDX-License-Identifier: MIT
# What the packaging tests check, made afresh from the current build tree (which must be built):
#
#   cmake -DMODE=install -DBUILD_DIR=<build> -DOUTPUT_DIR=<prefix> -P fixture.cmake
#       "cmake --install" into <prefix>
#   cmake -DMODE=package -DCPACK=<cpack> -DBUILD_DIR=<build> -DOUTPUT_DIR=<dir> -P fixture.cmake
#       the Debian package, made by CPack in <dir>
#
# <prefix> or <dir> is emptied first, so that nothing of an earlier run is checked. Both rewrite
# the build tree's install_manifest.txt, the list of files that the user's own install left
# there to uninstall with: it is put back as it was.

foreach(variable MODE BUILD_DIR OUTPUT_DIR)
    if(NOT ${variable})
        message(FATAL_ERROR "fixture.cmake: ${variable} is not set")
    endif()
endforeach()

file(REMOVE_RECURSE ${OUTPUT_DIR})
file(MAKE_DIRECTORY ${OUTPUT_DIR})
if(MODE STREQUAL "install")
    set(command ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${OUTPUT_DIR})
elseif(MODE STREQUAL "package")
    if(NOT CPACK)
        message(FATAL_ERROR "fixture.cmake: CPACK is not set")
    endif()
    set(command ${CPACK} --config ${BUILD_DIR}/CPackConfig.cmake -B ${OUTPUT_DIR})
else()
    message(FATAL_ERROR "fixture.cmake: unknown MODE ${MODE}")
endif()

set(manifest ${BUILD_DIR}/install_manifest.txt)
set(kept ${OUTPUT_DIR}.install_manifest.txt)
file(REMOVE ${kept})
if(EXISTS ${manifest})
    file(RENAME ${manifest} ${kept})
endif()
execute_process(COMMAND ${command} RESULT_VARIABLE result)
file(REMOVE ${manifest})
if(EXISTS ${kept})
    file(RENAME ${kept} ${manifest})
endif()
if(NOT result EQUAL 0)
    message(FATAL_ERROR "fixture.cmake: ${command} failed: ${result}")
endif()
