# grid_check(<exit code> <regex> <command> [args...]): runs the command and fails the calling script
# unless it exits with that code and its output (stdout and stderr) matches the regex.
function(grid_check expected_exit regex)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    set(GRID_CHECK_OUTPUT "${out}" PARENT_SCOPE)
    if(NOT rc STREQUAL "${expected_exit}" OR NOT "${out}${err}" MATCHES "${regex}")
        message(FATAL_ERROR "${ARGN}\n  exit ${rc} (expected ${expected_exit}), output to match '${regex}':\n${out}${err}")
    endif()
endfunction()

# The arguments after "--" of cmake -P <script> -- ...
function(grid_script_arguments out)
    set(args "")
    set(take FALSE)
    foreach(i RANGE ${CMAKE_ARGC})
        if(take AND DEFINED CMAKE_ARGV${i})
            list(APPEND args "${CMAKE_ARGV${i}}")
        elseif("${CMAKE_ARGV${i}}" STREQUAL "--")
            set(take TRUE)
        endif()
    endforeach()
    set(${out} "${args}" PARENT_SCOPE)
endfunction()
