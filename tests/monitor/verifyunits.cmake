# SPDX-License-Identifier: MIT
# Installs the monitor's component into PREFIX and checks its systemd units with systemd's own
# tools: "systemd-analyze verify" finds nothing to say about them (an unknown setting, a program
# that is not there), alone or with a drop-in that turns the metrics on, and "systemd-analyze
# security" rates the service's exposure at most THRESHOLD, in tenths of the level it prints
# (0 to 100, lower is safer: 25 is "2.5").
#
#   cmake -DBUILD_DIR=<build> -DPREFIX=<folder> -DSYSTEMD_ANALYZE=<tool or empty> -DTHRESHOLD=<n>
#         -P verifyunits.cmake

if(NOT SYSTEMD_ANALYZE)
    message("Skipped: systemd-analyze is not installed")
    return()
endif()
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
                        --component monitor
    OUTPUT_VARIABLE output ERROR_VARIABLE output RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed:\n${output}")
endif()

set(units ${PREFIX}/lib/systemd/system)
set(service ${units}/ravelin-monitor.service)
file(STRINGS ${service} exec REGEX "^ExecStart=")
if(NOT exec STREQUAL "ExecStart=${PREFIX}/bin/ravelin-monitor")
    message(FATAL_ERROR "the service starts \"${exec}\", not the installed program")
endif()

execute_process(COMMAND ${SYSTEMD_ANALYZE} verify ${units}/ravelin-monitor.socket ${service}
    OUTPUT_VARIABLE output ERROR_VARIABLE output RESULT_VARIABLE result)
if(NOT result EQUAL 0 OR output MATCHES "ravelin-monitor")
    message(FATAL_ERROR "systemd-analyze verify (exit status ${result}):\n${output}")
endif()

# With a drop-in such as the README's for metrics: served on every interface and written as a
# textfile into a runtime folder of the service's own.
set(dropin_dir ${service}.d)
file(MAKE_DIRECTORY ${dropin_dir})
file(WRITE ${dropin_dir}/metrics.conf "[Service]
ExecStart=
ExecStart=${PREFIX}/bin/ravelin-monitor --metrics-listen 0.0.0.0:29147 --metrics-textfile /run/ravelin-metrics
RuntimeDirectory=ravelin-metrics
RuntimeDirectoryMode=0755
RuntimeDirectoryPreserve=yes
")
execute_process(COMMAND ${SYSTEMD_ANALYZE} verify ${units}/ravelin-monitor.socket ${service}
    OUTPUT_VARIABLE output ERROR_VARIABLE output RESULT_VARIABLE result)
file(REMOVE_RECURSE ${dropin_dir})
if(NOT result EQUAL 0 OR output MATCHES "ravelin-monitor")
    message(FATAL_ERROR "systemd-analyze verify with the metrics drop-in (exit status ${result}):\n"
        "${output}")
endif()

execute_process(COMMAND ${SYSTEMD_ANALYZE} security --offline=yes --threshold=${THRESHOLD}
                        ${service}
    OUTPUT_VARIABLE output ERROR_VARIABLE output RESULT_VARIABLE result)
string(REGEX MATCH "Overall exposure level[^\n]*" level "${output}")
if(NOT result EQUAL 0)
    message(FATAL_ERROR "systemd-analyze security: above ${THRESHOLD} tenths:\n${output}")
endif()
message(STATUS "the units verify; ${level}")
