# SPDX-License-Identifier: MIT
# Renders the program's icon, drawn once as SVG (org.ravelin.Ravelin.svg beside this file), as
# PNG files of the sizes asked for, at build time, for the window and the desktop alike.
#
#   ravelin_render_icon_pngs(<files-var> OUTPUT_DIR <dir> SIZES <size>...)
#
# adds one custom command per size that renders <dir>/org.ravelin.Ravelin-<size>.png, a square
# of <size> pixels, whenever the SVG changes, and sets <files-var> to the files in the order of
# SIZES. A target must depend on the files for them to be built.

find_program(RSVG_CONVERT rsvg-convert REQUIRED)
set(RAVELIN_ICON_SVG ${CMAKE_CURRENT_LIST_DIR}/org.ravelin.Ravelin.svg)

function(ravelin_render_icon_pngs files_var)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "OUTPUT_DIR" "SIZES")
    if(NOT arg_OUTPUT_DIR OR NOT arg_SIZES OR arg_UNPARSED_ARGUMENTS)
        message(FATAL_ERROR
            "usage: ravelin_render_icon_pngs(<files-var> OUTPUT_DIR <dir> SIZES <size>...)")
    endif()
    set(files)
    foreach(size IN LISTS arg_SIZES)
        if(NOT size MATCHES "^[1-9][0-9]*$")
            message(FATAL_ERROR "ravelin_render_icon_pngs: not a size in pixels: ${size}")
        endif()
        set(file ${arg_OUTPUT_DIR}/org.ravelin.Ravelin-${size}.png)
        add_custom_command(OUTPUT ${file}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${arg_OUTPUT_DIR}
            COMMAND ${RSVG_CONVERT} --width=${size} --height=${size} --output=${file}
                    ${RAVELIN_ICON_SVG}
            DEPENDS ${RAVELIN_ICON_SVG}
            COMMENT "Rendering the ${size}-pixel icon"
            VERBATIM)
        list(APPEND files ${file})
    endforeach()
    set(${files_var} ${files} PARENT_SCOPE)
endfunction()
