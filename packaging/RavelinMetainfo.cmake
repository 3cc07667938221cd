# SPDX-License-Identifier: MIT
# The AppStream metadata, made from desktop/org.ravelin.Ravelin.metainfo.xml.in.
#
#   ravelin_add_metainfo(<target> <output-file> <screenshot-url>)
#
# adds <target>, built by default, that writes <output-file> with the releases of CHANGELOG.md
# (packaging/RavelinChanges.cmake), whenever the list of changes or the template changes.
# AppStream takes a screenshot only as a web address (http or https) that software centres
# download it from; with an empty <screenshot-url> the metadata lists no screenshot.

set(RAVELIN_METAINFO_TEMPLATE
    ${CMAKE_CURRENT_LIST_DIR}/../desktop/org.ravelin.Ravelin.metainfo.xml.in)
set(RAVELIN_CHANGES ${CMAKE_CURRENT_LIST_DIR}/../CHANGELOG.md)
set(RAVELIN_CHANGES_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/RavelinChanges.cmake)

function(ravelin_add_metainfo target output screenshot_url)
    set(RAVELIN_METAINFO_SCREENSHOTS "")
    if(NOT screenshot_url STREQUAL "")
        if(NOT screenshot_url MATCHES "^https?://[^]\"<>' \t\n[]+$")
            message(FATAL_ERROR
                "The screenshot's address must be a web address (http:// or https://), "
                "not \"${screenshot_url}\"")
        endif()
        string(REPLACE "&" "&amp;" image "${screenshot_url}")
        string(CONCAT RAVELIN_METAINFO_SCREENSHOTS
            "  <screenshots>\n"
            "    <screenshot type=\"default\">\n"
            "      <caption>The main window with the status bits and the log of queries</caption>\n"
            "      <image>${image}</image>\n"
            "    </screenshot>\n"
            "  </screenshots>")
    endif()
    # The screenshot now, the releases at build time, from the list of changes as it stands.
    set(RAVELIN_METAINFO_RELEASES "@RAVELIN_METAINFO_RELEASES@")
    set(template ${CMAKE_CURRENT_BINARY_DIR}/${target}.metainfo.xml.in)
    configure_file(${RAVELIN_METAINFO_TEMPLATE} ${template} @ONLY)
    add_custom_command(OUTPUT ${output}
        COMMAND ${CMAKE_COMMAND} -DMODE=metainfo -DCHANGES=${RAVELIN_CHANGES}
                -DVERSION=${PROJECT_VERSION} -DTEMPLATE=${template} -DOUTPUT=${output}
                -P ${RAVELIN_CHANGES_SCRIPT}
        DEPENDS ${template} ${RAVELIN_CHANGES} ${RAVELIN_CHANGES_SCRIPT}
        COMMENT "Writing the AppStream metadata with the releases of CHANGELOG.md"
        VERBATIM)
    add_custom_target(${target} ALL DEPENDS ${output})
endfunction()
