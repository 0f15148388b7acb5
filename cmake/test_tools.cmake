# The tools only the tests need. Each one missing stops the configure with
# one message that names it and says how to get it, or to build without tests.

function(stop_for_missing_test_tool what)
    message(FATAL_ERROR "The tests need ${what}, which is not installed. Run scripts/install-deps, "
                        "or configure with -DBUILD_TESTING=OFF to build the bundle alone.")
endfunction()

# require_test_program(VARIABLE WHAT find_program arguments...)
function(require_test_program variable what)
    find_program(${variable} ${ARGN})
    if(NOT ${variable})
        stop_for_missing_test_tool("${what}")
    endif()
endfunction()
