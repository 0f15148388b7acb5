# Places and checks the stand-in engine's internal routines.
#   MODE=padding: reads where the routines' section starts in a first link of
#     LIBRARY and writes OUTPUT, a header whose ENGINE_ENTRY_PADDING moves
#     engineUserDataFolder onto its offset in the next link.
#   MODE=check: fails unless each routine of LIBRARY is at its offset.
# NM is the symbol lister, as a list (`nm`, `nm;-m`, `llvm-nm`): each line
# holds the value first and the symbol name last.
set(offsets enginePrepare=73fd90 engineSetDataFolders=73f290 engineUserDataFolder=5bbaf0)

execute_process(COMMAND ${NM} ${LIBRARY} OUTPUT_VARIABLE symbols RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "${NM} could not list the symbols of ${LIBRARY}")
endif()

# Value of a symbol (Mach-O names carry a leading underscore), or "".
function(symbol_value name result)
    if(symbols MATCHES "(^|\n)0*([0-9a-fA-F]+) [^\n]*[ \t]_?${name}(\n|$)")
        string(TOLOWER "${CMAKE_MATCH_2}" value)
        set(${result} "${value}" PARENT_SCOPE)
    else()
        set(${result} "" PARENT_SCOPE)
    endif()
endfunction()

if(MODE STREQUAL "padding")
    symbol_value(engineEntriesStart start)
    if(start STREQUAL "")
        message(FATAL_ERROR "no engineEntriesStart in ${LIBRARY}")
    endif()
    math(EXPR padding "0x5bbaf0 - 0x${start}")
    if(padding LESS 0)
        message(FATAL_ERROR "the engine's routines start at 0x${start}, past 0x5bbaf0")
    endif()
    set(text "// Generated from a first link of the stand-in engine (routines' section at 0x${start}).\n")
    string(APPEND text "#define ENGINE_ENTRY_PADDING ${padding}\n")
    file(CONFIGURE OUTPUT "${OUTPUT}" CONTENT "${text}" @ONLY)
elseif(MODE STREQUAL "check")
    foreach(entry IN LISTS offsets)
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
    message(FATAL_ERROR "MODE must be padding or check")
endif()
