# Cross-builds the bundle for macOS on x86-64 from Linux with Zig 0.11's clang
# and Mach-O linker (scripts/install-deps puts Zig under .tools/). Apple's
# libc, libobjc and libSystem come with Zig; what Apple ships as frameworks,
# and FLTK, are link stubs of ours (cmake/darwin/stubs, FLTK's made by
# scripts/cross-build-macos), so every import is bound to its library.
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
# Darwin 20 is macOS 11.
set(CMAKE_SYSTEM_VERSION 20.0)
# The oldest macOS whose headers and libSystem Zig 0.11 carries.
set(DARWIN_TARGET x86_64-macos.11.0-none)

get_filename_component(darwin_folder ${CMAKE_CURRENT_LIST_DIR} ABSOLUTE)
get_filename_component(source_folder ${darwin_folder}/../.. ABSOLUTE)
find_program(ZIG zig HINTS ${source_folder}/.tools/zig-0.11.0 NO_DEFAULT_PATH REQUIRED)
find_program(LLVM_NM NAMES llvm-nm-19 llvm-nm HINTS /usr/lib/llvm-19/bin REQUIRED)
find_program(LLVM_INSTALL_NAME_TOOL NAMES llvm-install-name-tool-19 llvm-install-name-tool
             HINTS /usr/lib/llvm-19/bin REQUIRED)
find_program(LLVM_OBJDUMP NAMES llvm-objdump-19 llvm-objdump HINTS /usr/lib/llvm-19/bin REQUIRED)

# CMake gives a compiler no arguments of its own, so each Zig tool gets a
# small script. Zig takes the target from -target and refuses -arch.
set(wrappers ${source_folder}/.tools/zig-wrappers)
foreach(tool cc c++ ar ranlib)
    file(WRITE ${wrappers}/${tool}
        "#!/bin/sh\n"
        "skip=\n"
        "for argument in \"$@\"; do\n"
        "    shift\n"
        "    if [ -n \"$skip\" ]; then skip=; continue; fi\n"
        "    [ \"$argument\" = -arch ] && { skip=1; continue; }\n"
        "    set -- \"$@\" \"$argument\"\n"
        "done\n")
    if(tool MATCHES "^c")
        file(APPEND ${wrappers}/${tool} "exec '${ZIG}' ${tool} -target ${DARWIN_TARGET} \"$@\"\n")
    else()
        file(APPEND ${wrappers}/${tool} "exec '${ZIG}' ${tool} \"$@\"\n")
    endif()
    file(CHMOD ${wrappers}/${tool} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
         WORLD_READ WORLD_EXECUTE)
endforeach()

set(CMAKE_C_COMPILER ${wrappers}/cc)
set(CMAKE_CXX_COMPILER ${wrappers}/c++)
set(CMAKE_OBJCXX_COMPILER ${wrappers}/c++)
set(CMAKE_AR ${wrappers}/ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${wrappers}/ranlib CACHE FILEPATH "")
set(CMAKE_NM ${LLVM_NM} CACHE FILEPATH "")
set(CMAKE_INSTALL_NAME_TOOL ${LLVM_INSTALL_NAME_TOOL} CACHE FILEPATH "")
# LC_UUID read back as otool -l would on a Mac.
set(MACHO_HEADERS_TOOL ${LLVM_OBJDUMP} --macho --private-headers CACHE STRING "")
set(CMAKE_OSX_SYSROOT "" CACHE PATH "")
# CMake asks sw_vers for the build machine's macOS to know that the linker
# takes -rpath; there is none here, so that is said after project().
set(CMAKE_PROJECT_INCLUDE ${darwin_folder}/after_project.cmake)

# Headers Apple ships in frameworks (and util.h), and the link stubs.
set(darwin_flags "-isystem ${darwin_folder}/include")
set(CMAKE_C_FLAGS_INIT "${darwin_flags}")
set(CMAKE_CXX_FLAGS_INIT "${darwin_flags}")
# CMake says -x objective-c++, which Zig turns into a flag clang then calls unused.
set(CMAKE_OBJCXX_FLAGS_INIT "${darwin_flags} -Wno-unused-command-line-argument")
set(stub_flags "-F ${darwin_folder}/stubs/Frameworks -L ${darwin_folder}/stubs")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${stub_flags}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${stub_flags}")

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
