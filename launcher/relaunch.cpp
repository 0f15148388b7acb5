#include "relaunch.h"

#include "platform.h"

#include <cstddef>
#include <cstdint>
#include <unistd.h>

namespace {

char gameKeyword[] = "-game";
char emptyProgramName[] = "";

} // namespace

char** buildRelaunchVector(int argc, char** argv, const char* marker)
{
    // execv takes non-const pointers but never writes through them.
    char* markerArgument = const_cast<char*>(marker);
    if (argc <= 0)
        return new char* [4] { emptyProgramName, gameKeyword, markerArgument, nullptr };

    char** vector = new char*[static_cast<std::size_t>(argc) + 3];
    for (int i = 0; i < argc; ++i)
        vector[i] = argv[i];
    vector[argc] = gameKeyword;
    vector[argc + 1] = markerArgument;
    vector[argc + 2] = nullptr;
    return vector;
}

int relaunchAsGame(char** vector)
{
    std::uint32_t size = 0;
    executablePath(nullptr, &size);
    char* path = new char[size];
    executablePath(path, &size);
    int result = execv(path, vector);
    delete[] path;
    return result;
}

int relaunchWithMarker(int argc, char** argv, const char* marker)
{
    char** vector = buildRelaunchVector(argc, argv, marker);
    int result = relaunchAsGame(vector);
    delete[] vector;
    return result;
}
