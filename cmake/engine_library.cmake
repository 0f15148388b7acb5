# check_engine_library(PATH): stops the configure with one clear message
# unless PATH is a shared library of the target's kind (x86-64 ELF on Linux,
# x86-64 Mach-O on macOS); its identity is read when the bundle is built.
function(check_engine_library path)
    if(APPLE)
        set(kind "an x86-64 Mach-O shared library (a .dylib)")
        # offset:bytes of MH_MAGIC_64, CPU_TYPE_X86_64 and MH_DYLIB, little-endian.
        set(fields 0:cffaedfe 4:07000001 12:06000000)
    else()
        set(kind "an x86-64 ELF shared library")
        # offset:bytes of ELF's magic, ET_DYN and EM_X86_64.
        set(fields 0:7f454c46 16:0300 18:3e00)
    endif()
    set(problem "")
    if(NOT EXISTS "${path}" OR IS_DIRECTORY "${path}")
        set(problem "there is no file")
    endif()
    foreach(field IN LISTS fields)
        if(problem)
            break()
        endif()
        string(REPLACE ":" ";" pair "${field}")
        list(GET pair 0 offset)
        list(GET pair 1 expected)
        string(LENGTH "${expected}" digits)
        math(EXPR length "${digits} / 2")
        file(READ "${path}" found OFFSET ${offset} LIMIT ${length} HEX)
        if(NOT found STREQUAL expected)
            set(problem "this is not ${kind}")
        endif()
    endforeach()
    if(problem)
        message(FATAL_ERROR "ENGINE_LIBRARY=${path}: ${problem}. Give the engine library the bundle is built around.")
    endif()
endfunction()

# engine_exports_allocation_operators(PATH VARIABLE): whether the library
# exports the throwing operator new, as the engine the executable takes its
# allocation operators from does.
function(engine_exports_allocation_operators path variable)
    if(APPLE)
        set(list_exports ${CMAKE_NM} -gU)
    else()
        set(list_exports ${CMAKE_NM} -D --defined-only)
    endif()
    execute_process(COMMAND ${list_exports} "${path}" OUTPUT_VARIABLE symbols ERROR_QUIET)
    if(symbols MATCHES "[ \t]T _?_Znwm\n")
        set(${variable} TRUE PARENT_SCOPE)
    else()
        set(${variable} FALSE PARENT_SCOPE)
    endif()
endfunction()

# engine_overrides_weak_definitions(PATH VARIABLE): whether a Mach-O image
# carries MH_WEAK_DEFINES (0x8000 in the header's flags, bytes 24-27), which
# Apple's linker sets where the image's operator new overrides the C++
# runtime's weak one, and without which dyld binds the runtime's own calls
# to the runtime's operators.
function(engine_overrides_weak_definitions path variable)
    file(READ "${path}" flags OFFSET 24 LIMIT 4 HEX)
    string(SUBSTRING "${flags}" 2 2 second_byte)
    math(EXPR weak_defines "0x${second_byte} & 0x80")
    if(weak_defines)
        set(${variable} TRUE PARENT_SCOPE)
    else()
        set(${variable} FALSE PARENT_SCOPE)
    endif()
endfunction()
