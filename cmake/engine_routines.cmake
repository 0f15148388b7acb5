# The engine build's three internal routines and their offsets from its load
# address, written here alone: the launcher, the stand-in, its placement and
# the checks all take them from ENGINE_ROUTINES or the header made from it.
set(ENGINE_ROUTINES enginePrepare=73fd90 engineSetDataFolders=73f290 engineUserDataFolder=5bbaf0)

# ENGINE_<NAME>_OFFSET for each, as C macros, so that assembly can use them too.
set(ENGINE_ROUTINES_HEADER ${CMAKE_BINARY_DIR}/generated/engine_routine_offsets.h)
set(text "// Generated from ENGINE_ROUTINES in cmake/engine_routines.cmake.\n#pragma once\n\n")
foreach(entry IN LISTS ENGINE_ROUTINES)
    string(REPLACE "=" ";" pair "${entry}")
    list(GET pair 0 name)
    list(GET pair 1 offset)
    string(REGEX REPLACE "([a-z])([A-Z])" "\\1_\\2" macro "${name}")
    string(TOUPPER "${macro}" macro)
    string(APPEND text "#define ${macro}_OFFSET 0x${offset}\n")
    set(ENGINE_ROUTINE_OFFSET_${name} 0x${offset})
endforeach()
file(CONFIGURE OUTPUT ${ENGINE_ROUTINES_HEADER} CONTENT "${text}" @ONLY)
