# SPDX-License-Identifier: MIT
# The list of changes, CHANGELOG.md, made into what the Debian package and the AppStream
# metadata carry, so that changes are written in one place only.
#
#   cmake -DMODE=debian -DCHANGES=<CHANGELOG.md> -DVERSION=<version> -DPACKAGE=<name>
#         "-DMAINTAINER=<name> <<address>>" -DOUTPUT=<file> -P RavelinChanges.cmake
#       writes the Debian changelog of a native package: one entry per version, newest first
#   cmake -DMODE=metainfo -DCHANGES=<CHANGELOG.md> -DVERSION=<version> -DTEMPLATE=<file>
#         -DOUTPUT=<file> -P RavelinChanges.cmake
#       writes the template with @RAVELIN_METAINFO_RELEASES@ replaced by the AppStream releases
#
# CHANGELOG.md: after its title and introduction, each version is a heading
# "## <version> (<year>-<month>-<day>)" over a list of changes, each an item "- <text>" continued
# on lines indented by two blanks. "## Unreleased" holds changes of no version yet and is left
# out. The newest version must be VERSION, versions must go down and dates must not go up. Any
# other line fails, naming the line.

cmake_minimum_required(VERSION 3.25)

foreach(variable MODE CHANGES VERSION OUTPUT)
    if(NOT DEFINED ${variable})
        message(FATAL_ERROR "RavelinChanges.cmake: ${variable} is not set")
    endif()
endforeach()

function(fail line_number)
    string(JOIN "" text ${ARGN})
    message(FATAL_ERROR "${CHANGES}:${line_number}: ${text}")
endfunction()

# Sets <out> to the number of days from 1970-01-01 to the date (a proleptic Gregorian calendar
# day count).
function(days_since_epoch year month day out)
    if(month LESS_EQUAL 2)
        math(EXPR year "${year} - 1")
        math(EXPR month "${month} + 9")
    else()
        math(EXPR month "${month} - 3")
    endif()
    math(EXPR era "${year} / 400")
    math(EXPR year_of_era "${year} - ${era} * 400")
    math(EXPR day_of_year "(153 * ${month} + 2) / 5 + ${day} - 1")
    math(EXPR day_of_era
        "${year_of_era} * 365 + ${year_of_era} / 4 - ${year_of_era} / 100 + ${day_of_year}")
    math(EXPR days "${era} * 146097 + ${day_of_era} - 719468")
    set(${out} ${days} PARENT_SCOPE)
endfunction()

# Checks that year-month-day is a day of the calendar, and sets <out> to it in the form of a
# Debian changelog's trailer line, at midnight UTC. string(TIMESTAMP) names the weekday and the
# month of the time SOURCE_DATE_EPOCH gives (set in this script's process only), in the C
# locale, as CMake sets no other; a day past the month's end comes back as one of the next.
function(read_date line_number date out)
    if(NOT date MATCHES "^([0-9][0-9][0-9][0-9])-([0-9][0-9])-([0-9][0-9])$")
        fail(${line_number} "not a date as year-month-day: ${date}")
    endif()
    math(EXPR year "${CMAKE_MATCH_1}")
    math(EXPR month "${CMAKE_MATCH_2}")
    math(EXPR day "${CMAKE_MATCH_3}")
    if(month LESS 1 OR month GREATER 12)
        fail(${line_number} "no month ${month} in ${date}")
    endif()
    days_since_epoch(${year} ${month} ${day} days)
    math(EXPR seconds "${days} * 86400")
    set(ENV{SOURCE_DATE_EPOCH} ${seconds})
    string(TIMESTAMP day_read_back "%d" UTC)
    if(NOT day_read_back EQUAL day)
        fail(${line_number} "no day ${day} in ${date}")
    endif()
    string(TIMESTAMP trailer "%a, %d %b %Y 00:00:00 +0000" UTC)
    set(${out} "${trailer}" PARENT_SCOPE)
endfunction()

# Sets <head> to the text before the first <separator>, and <rest> to the text after it (empty
# when there is none). Texts are taken apart this way rather than as lists, as they may hold
# any character.
function(split_at_first separator text head rest)
    string(FIND "${text}" "${separator}" at)
    if(at EQUAL -1)
        set(${head} "${text}" PARENT_SCOPE)
        set(${rest} "" PARENT_SCOPE)
    else()
        string(SUBSTRING "${text}" 0 ${at} before)
        string(LENGTH "${separator}" length)
        math(EXPR after "${at} + ${length}")
        string(SUBSTRING "${text}" ${after} -1 remainder)
        set(${head} "${before}" PARENT_SCOPE)
        set(${rest} "${remainder}" PARENT_SCOPE)
    endif()
endfunction()

# Sets <out> to the text wrapped at <width> columns, the first line after <first>, the others
# after <rest>. Words are split at blanks only; a word longer than a line stands alone.
function(wrap text first rest width out)
    string(REGEX REPLACE "[ \t]+" " " text "${text}")
    string(STRIP "${text}" text)
    set(result "")
    set(line "${first}")
    set(line_has_words FALSE)
    while(NOT text STREQUAL "")
        split_at_first(" " "${text}" word text)
        string(LENGTH "${line} ${word}" length)
        if(line_has_words AND length GREATER width)
            string(APPEND result "${line}\n")
            set(line "${rest}${word}")
        elseif(line_has_words)
            string(APPEND line " ${word}")
        else()
            string(APPEND line "${word}")
        endif()
        set(line_has_words TRUE)
    endwhile()
    set(${out} "${result}${line}\n" PARENT_SCOPE)
endfunction()

# Reading CHANGELOG.md: the versions, newest first, into "versions"; for each version V its date
# in date_<V>, the same as a Debian trailer's in trailer_<V>, and its changes in change_<V>_1 to
# change_<V>_<count_<V>>.
if(NOT EXISTS "${CHANGES}")
    message(FATAL_ERROR "RavelinChanges.cmake: no list of changes at ${CHANGES}")
endif()
file(READ "${CHANGES}" text)
set(versions)
set(section "") # "" before the first version heading, then "unreleased" or the version
set(in_change FALSE)
set(line_number 0)
while(NOT text STREQUAL "")
    split_at_first("\n" "${text}" line text)
    math(EXPR line_number "${line_number} + 1")
    string(REGEX REPLACE "[ \t\r]+$" "" line "${line}")

    if(line MATCHES "^##")
        set(in_change FALSE)
        if(line STREQUAL "## Unreleased")
            if(versions)
                fail(${line_number} "the unreleased changes go above every version")
            endif()
            set(section unreleased)
        elseif(line MATCHES "^## ([0-9]+(\\.[0-9]+)*) \\(([^)]*)\\)$")
            set(version "${CMAKE_MATCH_1}")
            set(date "${CMAKE_MATCH_3}")
            read_date(${line_number} "${date}" trailer)
            if(version IN_LIST versions)
                fail(${line_number} "version ${version} is there twice")
            endif()
            if(versions)
                list(GET versions -1 newer)
                if(NOT "${version}" VERSION_LESS "${newer}")
                    fail(${line_number} "version ${version} stands below the newer ${newer}")
                endif()
                if("${date}" STRGREATER "${date_${newer}}")
                    fail(${line_number} "version ${version} dated ${date}, after the newer "
                                        "${newer} of ${date_${newer}}")
                endif()
            endif()
            list(APPEND versions ${version})
            set(date_${version} "${date}")
            set(trailer_${version} "${trailer}")
            set(count_${version} 0)
            set(section ${version})
        else()
            fail(${line_number}
                 "expected \"## <version> (<year>-<month>-<day>)\" or \"## Unreleased\": ${line}")
        endif()
    elseif(section STREQUAL "")
        # The title and the introduction.
    elseif(line STREQUAL "")
        set(in_change FALSE)
    elseif(line MATCHES "^- (.*[^ ].*)$")
        set(in_change TRUE)
        if(NOT section STREQUAL "unreleased")
            math(EXPR count_${section} "${count_${section}} + 1")
            set(change_${section}_${count_${section}} "${CMAKE_MATCH_1}")
        endif()
    elseif(in_change AND line MATCHES "^  +([^ ].*)$")
        if(NOT section STREQUAL "unreleased")
            string(APPEND change_${section}_${count_${section}} " ${CMAKE_MATCH_1}")
        endif()
    else()
        fail(${line_number} "expected a change, \"- <text>\", or its continuation indented by "
                            "two blanks: ${line}")
    endif()
endwhile()

if(NOT versions)
    message(FATAL_ERROR "${CHANGES}: no version; the newest must be ${VERSION}")
endif()
list(GET versions 0 newest)
if(NOT newest STREQUAL VERSION)
    message(FATAL_ERROR "${CHANGES}: the newest version is ${newest}, but the project's is "
                        "${VERSION}: write what ${VERSION} changes under \"## ${VERSION} (<date>)\"")
endif()
foreach(version IN LISTS versions)
    if(count_${version} EQUAL 0)
        message(FATAL_ERROR "${CHANGES}: version ${version} lists no change")
    endif()
endforeach()

if(MODE STREQUAL "debian")
    foreach(variable PACKAGE MAINTAINER)
        if(NOT DEFINED ${variable})
            message(FATAL_ERROR "RavelinChanges.cmake: ${variable} is not set")
        endif()
    endforeach()
    set(result "")
    foreach(version IN LISTS versions)
        if(NOT result STREQUAL "")
            string(APPEND result "\n")
        endif()
        string(APPEND result "${PACKAGE} (${version}) unstable; urgency=medium\n\n")
        foreach(index RANGE 1 ${count_${version}})
            wrap("${change_${version}_${index}}" "  * " "    " 79 item)
            string(APPEND result "${item}")
        endforeach()
        string(APPEND result "\n -- ${MAINTAINER}  ${trailer_${version}}\n")
    endforeach()
    file(WRITE "${OUTPUT}" "${result}")
elseif(MODE STREQUAL "metainfo")
    if(NOT DEFINED TEMPLATE)
        message(FATAL_ERROR "RavelinChanges.cmake: TEMPLATE is not set")
    endif()
    set(RAVELIN_METAINFO_RELEASES "  <releases>\n")
    foreach(version IN LISTS versions)
        string(APPEND RAVELIN_METAINFO_RELEASES
            "    <release version=\"${version}\" date=\"${date_${version}}\">\n"
            "      <description>\n"
            "        <ul>\n")
        foreach(index RANGE 1 ${count_${version}})
            # Plain text: the marks of code go, and XML's own characters are escaped.
            set(change "${change_${version}_${index}}")
            string(REPLACE "`" "" change "${change}")
            string(REPLACE "&" "&amp;" change "${change}")
            string(REPLACE "<" "&lt;" change "${change}")
            string(REPLACE ">" "&gt;" change "${change}")
            string(APPEND RAVELIN_METAINFO_RELEASES "          <li>${change}</li>\n")
        endforeach()
        string(APPEND RAVELIN_METAINFO_RELEASES
            "        </ul>\n"
            "      </description>\n"
            "    </release>\n")
    endforeach()
    string(APPEND RAVELIN_METAINFO_RELEASES "  </releases>")
    configure_file("${TEMPLATE}" "${OUTPUT}" @ONLY)
else()
    message(FATAL_ERROR "RavelinChanges.cmake: unknown MODE ${MODE}")
endif()
