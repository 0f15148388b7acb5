# check_engine_library(PATH): stops the configure with one clear message
# unless PATH is a shared library of the target's kind (x86-64 ELF on Linux,
# x86-64 Mach-O on macOS); its identity is read when the bundle is built.
function(check_engine_library path)
    set(problem "")
    if(NOT EXISTS "${path}" OR IS_DIRECTORY "${path}")
        set(problem "there is no file")
    else()
        file(READ "${path}" magic LIMIT 4 HEX)
        file(READ "${path}" kind OFFSET 16 LIMIT 4 HEX)
        file(READ "${path}" machine OFFSET 4 LIMIT 4 HEX)
        if(APPLE)
            file(READ "${path}" kind OFFSET 12 LIMIT 4 HEX)
            # MH_MAGIC_64, CPU_TYPE_X86_64, MH_DYLIB, all little-endian.
            if(NOT magic STREQUAL "cffaedfe" OR NOT machine STREQUAL "07000001" OR NOT kind STREQUAL "06000000")
                set(problem "this is not an x86-64 Mach-O shared library (a .dylib)")
            endif()
        else()
            file(READ "${path}" machine OFFSET 18 LIMIT 2 HEX)
            # ELF, ET_DYN, EM_X86_64.
            if(NOT magic STREQUAL "7f454c46" OR NOT kind MATCHES "^0300" OR NOT machine STREQUAL "3e00")
                set(problem "this is not an x86-64 ELF shared library")
            endif()
        endif()
    endif()
    if(problem)
        message(FATAL_ERROR "ENGINE_LIBRARY=${path}: ${problem}. Give the engine library the bundle is built around.")
    endif()
endfunction()
