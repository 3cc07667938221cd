# SPDX-License-Identifier: MIT
# The installed tree the packaging tests check, made afresh from the current build tree (which
# must be built):
#
#   cmake -DBUILD_DIR=<build> -DOUTPUT_DIR=<prefix> -P fixture.cmake
#       "cmake --install" into <prefix>
#
# <prefix> is emptied first, so that nothing of an earlier run is checked. The install rewrites
# the build tree's install_manifest.txt, the list of files that the user's own install left
# there to uninstall with: it is put back as it was.

foreach(variable BUILD_DIR OUTPUT_DIR)
    if(NOT ${variable})
        message(FATAL_ERROR "fixture.cmake: ${variable} is not set")
    endif()
endforeach()

file(REMOVE_RECURSE ${OUTPUT_DIR})
file(MAKE_DIRECTORY ${OUTPUT_DIR})
set(command ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${OUTPUT_DIR})

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
