# cmake -DEXIT=<code> [-DMATCH=<regex>] [-DEXPECTED=<file>] -P check-command.cmake -- <command> [args...]
# The command exits with EXIT, its output matches MATCH, and its stdout is the file EXPECTED byte for byte.
include(${CMAKE_CURRENT_LIST_DIR}/Check.cmake)
grid_script_arguments(command)
grid_check(${EXIT} "${MATCH}" ${command})
if(EXPECTED)
    file(READ ${EXPECTED} committed)
    if(NOT committed STREQUAL GRID_CHECK_OUTPUT)
        string(REPLACE ";" " " shown "${command}")
        message(FATAL_ERROR "${EXPECTED} differs from the output of the code; regenerate it with\n  ${shown} > ${EXPECTED}")
    endif()
endif()
