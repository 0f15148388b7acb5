# Places and checks the stand-in engine's internal routines.
#   MODE=place: links LIBRARY until each routine sits on its offset, whatever
#     order the Mach-O linker lays __TEXT out in. Each round compiles SOURCE
#     (the routines) with COMPILE plus the two paddings into ENTRIES_OBJECT,
#     then links it with OBJECTS through LINK into LIBRARY; fails the build
#     unless they sit there after a few rounds.
#   MODE=check: fails unless each routine of LIBRARY is at its offset.
# NM is the symbol lister, as a list (`nm`, `nm;-m`, `llvm-nm`): each line
# holds the value first and the symbol name last. COMPILE and LINK are lists
# too, without their input and output files.
# ROUTINES is ENGINE_ROUTINES (cmake/engine_routines.cmake): name=offset, hexadecimal.
foreach(entry IN LISTS ROUTINES)
    if(entry MATCHES "^engineUserDataFolder=(.*)$")
        set(target ${CMAKE_MATCH_1})
    endif()
endforeach()
if(NOT target)
    message(FATAL_ERROR "ROUTINES names no engineUserDataFolder")
endif()

function(read_symbols)
    execute_process(COMMAND ${NM} ${LIBRARY} OUTPUT_VARIABLE listed RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "${NM} could not list the symbols of ${LIBRARY}")
    endif()
    set(symbols "${listed}" PARENT_SCOPE)
endfunction()

# Value of a symbol (Mach-O names carry a leading underscore), or "".
function(symbol_value name result)
    if(symbols MATCHES "(^|\n)0*([0-9a-fA-F]+) [^\n]*[ \t]_?${name}(\n|$)")
        string(TOLOWER "${CMAKE_MATCH_2}" value)
        set(${result} "${value}" PARENT_SCOPE)
    else()
        set(${result} "" PARENT_SCOPE)
    endif()
endfunction()

function(run)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE failed OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(failed)
        list(JOIN ARGN " " command)
        message(FATAL_ERROR "${command}\n${out}")
    endif()
endfunction()

if(MODE STREQUAL "place")
    # The first guess makes __TEXT large enough for the offsets whichever
    # end it is laid out from; the tail leaves room to move both ways. Each
    # round then moves the routines by the distance still missing: more
    # padding before them and as much less after keeps the segment's size,
    # so a front-laid and an end-laid segment both move them by that much.
    math(EXPR padding "0x${target}")
    set(tail 65536)
    foreach(round RANGE 1 6)
        run(${COMPILE} -DENGINE_ENTRY_PADDING=${padding} -DENGINE_ENTRY_TAIL=${tail}
            -c ${SOURCE} -o ${ENTRIES_OBJECT})
        run(${LINK} -o ${LIBRARY} ${OBJECTS} ${ENTRIES_OBJECT})
        read_symbols()
        symbol_value(engineUserDataFolder value)
        if(value STREQUAL "")
            message(FATAL_ERROR "no engineUserDataFolder in ${LIBRARY}")
        endif()
        if(value STREQUAL target)
            break()
        endif()
        math(EXPR missing "0x${target} - 0x${value}")
        math(EXPR padding "${padding} + ${missing}")
        math(EXPR tail "${tail} - ${missing}")
        if(padding LESS 0 OR tail LESS 0)
            message(FATAL_ERROR "the engine's routines cannot be moved from 0x${value} to 0x${target}")
        endif()
    endforeach()
    set(MODE check)
endif()

if(MODE STREQUAL "check")
    read_symbols()
    foreach(entry IN LISTS ROUTINES)
        string(REPLACE "=" ";" pair "${entry}")
        list(GET pair 0 name)
        list(GET pair 1 expected)
        symbol_value(${name} value)
        if(NOT value STREQUAL expected)
            message(FATAL_ERROR "${name} is at 0x${value} in ${LIBRARY}, not at 0x${expected}")
        endif()
    endforeach()
    message(STATUS "engine routines at their offsets in ${LIBRARY}")
else()
    message(FATAL_ERROR "MODE must be place or check")
endif()
