# The AppStream metadata, made from desktop/org.ravelin.Ravelin.metainfo.xml.in.
#
#   ravelin_configure_metainfo(<output-file> <screenshot-url>)
#
# writes <output-file> at configure time. AppStream takes a screenshot only as a web address
# (http or https) that software centres download it from; with an empty <screenshot-url> the
# metadata lists no screenshot.

set(RAVELIN_METAINFO_TEMPLATE
    ${CMAKE_CURRENT_LIST_DIR}/../desktop/org.ravelin.Ravelin.metainfo.xml.in)

function(ravelin_configure_metainfo output screenshot_url)
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
    configure_file(${RAVELIN_METAINFO_TEMPLATE} ${output} @ONLY)
endfunction()
