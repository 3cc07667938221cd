# SPDX-License-Identifier: MIT
# Fails when a tracked source, script or build file does not name its licence in a line
# "SPDX-License-Identifier: <licence>" at its top, and says which files and what line each
# needs; with FIX, adds those lines instead.
#
#   cmake -DGIT=<git> -DSOURCE_DIR=<top of the tree> [-DFIX=ON] -P checkspdx.cmake
#
# The line is the file's first, or its second after a "#!" line or an XML declaration, written
# as a comment of the file's kind. The files checked are those git tracks of these kinds: C and
# C++ sources and headers; CMake files; scripts (whatever starts with "#!", *.sh, *.py); and the
# other build and install inputs that have comments: .clang-format, the lists of packages the
# scripts install, desktop entries, XML and SVG files and their .in templates, linker version
# scripts (*.map), sanitizer suppressions (*.supp), udev rules (*.rules), manual pages (*.1),
# lintian overrides and debian/control. Documents, images, JSON and the other files of debian/
# (the copyright file states the licences itself; the changelog and source/format take no
# comments) are not.

foreach(variable SOURCE_DIR)
    if(NOT ${variable})
        message(FATAL_ERROR "checkspdx.cmake: ${variable} is not set")
    endif()
endforeach()

set(licence MIT)
# Files under another licence: the AppStream metadata, which catalogues gather.
set(other_licences "desktop/org.ravelin.Ravelin.metainfo.xml.in=CC0-1.0")

if(NOT GIT)
    message("Skipped: git is not installed, so no file is known to be tracked.")
    return()
endif()
execute_process(COMMAND ${GIT} -C ${SOURCE_DIR} ls-files
    OUTPUT_VARIABLE tracked RESULT_VARIABLE result ERROR_QUIET)
if(NOT result EQUAL 0)
    message("Skipped: ${SOURCE_DIR} is not a git checkout, so no file is known to be tracked.")
    return()
endif()
string(REPLACE "\n" ";" tracked "${tracked}")

# Sets <open> and <close> to the comment marks of the file's kind, both empty when the file is
# not of a kind that is checked.
function(comment_marks file open close)
    get_filename_component(name "${file}" NAME)
    set(begin "")
    set(end "")
    if(name MATCHES "\\.(c|cc|cpp|h|hpp)$")
        set(begin "// ")
    elseif(name MATCHES "\\.(map)$")
        set(begin "/* ")
        set(end " */")
    elseif(name MATCHES "\\.(xml|svg)(\\.in)?$")
        set(begin "<!-- ")
        set(end " -->")
    elseif(name MATCHES "\\.1$")
        set(begin ".\\\" ")
    elseif(name STREQUAL "CMakeLists.txt" OR name STREQUAL ".clang-format"
           OR file MATCHES "^scripts/packages(-[a-z]+)?$" OR file STREQUAL "debian/control"
           OR name MATCHES "\\.(cmake|cmake\\.in|sh|py|desktop|desktop\\.in|supp|rules)$"
           OR name MATCHES "lintian-overrides$")
        set(begin "# ")
    else()
        file(READ "${SOURCE_DIR}/${file}" head LIMIT 2 HEX)
        if(head STREQUAL "2321") # "#!"
            set(begin "# ")
        endif()
    endif()
    set(${open} "${begin}" PARENT_SCOPE)
    set(${close} "${end}" PARENT_SCOPE)
endfunction()

set(lacking "")
foreach(file IN LISTS tracked)
    if(NOT EXISTS "${SOURCE_DIR}/${file}" OR IS_DIRECTORY "${SOURCE_DIR}/${file}")
        continue()
    endif()
    comment_marks("${file}" open close)
    if(open STREQUAL "")
        continue()
    endif()
    set(expected ${licence})
    foreach(other IN LISTS other_licences)
        string(FIND "${other}" "${file}=" at)
        if(at EQUAL 0)
            string(REGEX REPLACE "^[^=]*=" "" expected "${other}")
        endif()
    endforeach()

    # The first two lines, and where the line goes: after a "#!" line or an XML declaration.
    file(READ "${SOURCE_DIR}/${file}" text)
    string(FIND "${text}" "\n" end)
    if(end EQUAL -1)
        set(first "${text}")
        set(rest "")
    else()
        string(SUBSTRING "${text}" 0 ${end} first)
        math(EXPR next "${end} + 1")
        string(SUBSTRING "${text}" ${next} -1 rest)
    endif()
    string(FIND "${rest}" "\n" end)
    string(SUBSTRING "${rest}" 0 ${end} second)
    set(candidate "${first}")
    set(after_first FALSE)
    if(first MATCHES "^(#!|<\\?xml )")
        set(candidate "${second}")
        set(after_first TRUE)
    endif()
    # The line ends with the identifier, so that "MIT" is not taken for "MIT-0".
    set(tail "SPDX-License-Identifier: ${expected}${close}")
    string(REGEX REPLACE "[ \t\r]+$" "" candidate "${candidate}")
    string(LENGTH "${candidate}" length)
    string(LENGTH "${tail}" tail_length)
    if(length GREATER_EQUAL tail_length)
        math(EXPR start "${length} - ${tail_length}")
        string(SUBSTRING "${candidate}" ${start} -1 ending)
        if(ending STREQUAL tail)
            continue()
        endif()
    endif()

    set(line "${open}${tail}")
    if(FIX)
        if(after_first)
            file(WRITE "${SOURCE_DIR}/${file}" "${first}\n${line}\n${rest}")
        else()
            file(WRITE "${SOURCE_DIR}/${file}" "${line}\n${text}")
        endif()
        message("${file}: added ${line}")
    else()
        string(APPEND lacking "  ${file}: ${line}\n")
    endif()
endforeach()

if(NOT lacking STREQUAL "")
    message(FATAL_ERROR
        "These files lack their licence line at the top (the first line, or the second after "
        "a \"#!\" line or an XML declaration); add the line shown for each:\n${lacking}"
        "or add them all with: cmake -DGIT=git -DSOURCE_DIR=<top of the tree> -DFIX=ON -P "
        "tests/checkspdx.cmake")
endif()
