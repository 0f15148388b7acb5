# Included at the end of project() in the macOS cross-build: what CMake's
# Darwin platform files would have set on a Mac new enough for -rpath.
foreach(lang C CXX OBJCXX)
    set(CMAKE_SHARED_LIBRARY_RUNTIME_${lang}_FLAG "-Wl,-rpath,")
    set(CMAKE_EXECUTABLE_RUNTIME_${lang}_FLAG "-Wl,-rpath,")
endforeach()
