#pragma once

// How the launcher reaches the engine library: its exported entry point and
// three internal routines found at fixed offsets from its load address.

#include <cstddef>
#include <cstdint>

extern "C" int PlayerMain(int argc, const char** argv);

// The 40-byte string record exchanged with the engine routines (little-endian).
struct EngineString {
    const char* characters;     // bytes 0-7
    std::uint64_t count;        // bytes 8-15
    std::uint8_t unused16[8];   // bytes 16-23, never written by the launcher
    std::uint64_t length;       // bytes 24-31
    std::uint32_t flags;        // bytes 32-35
    std::uint8_t unused36[4];   // bytes 36-39, never written by the launcher
};
static_assert(sizeof(EngineString) == 40, "the engine expects a 40-byte record");

using EnginePrepareFunction = void (*)();
using EngineSetDataFoldersFunction = bool (*)(const EngineString* dataFolder, const EngineString* contentsFolder);
using EngineUserDataFolderFunction = void (*)(EngineString* userFolder);

// Offsets of enginePrepare, engineSetDataFolders and engineUserDataFolder in
// the one engine build this launcher targets.
extern const std::uint64_t engineEntryOffsets[3];

struct EngineEntryPoints {
    EnginePrepareFunction enginePrepare;
    EngineSetDataFoldersFunction engineSetDataFolders;
    EngineUserDataFolderFunction engineUserDataFolder;
};
extern EngineEntryPoints engineEntryPoints;

// The per-user data folder from the last fetchUserFolder call: userFolderLength
// path bytes, no terminator, then 14 spare bytes for "/controls.ini" and NUL.
extern char* userFolderPath;
extern std::int32_t userFolderLength;
constexpr int userFolderSpareBytes = 14;

// Whether the library loaded at loadAddress is the engine build the offsets
// belong to (its identity is ENGINE_BUILD_ID's).
bool isTargetedEngine(const void* loadAddress);

// Index of the second-to-last '/' in a library path, or 0 when there is none
// (everything in front of it is the bundle's Contents folder).
std::size_t contentsPrefixLength(const char* libraryPath);

// Finds the engine, resolves its routines, hands it the bundle's data folder.
// True when the engine accepted the folders, so fetchUserFolder may be used.
bool setUpEngine();

// True once setUpEngine has succeeded in this process.
bool engineIsReady();

// Fills userFolderPath/userFolderLength with a fresh buffer the caller releases.
// Only after setUpEngine returned true.
void fetchUserFolder();

// fetchUserFolder, then "/controls.ini" and a NUL written into the spare
// bytes: userFolderPath is then the controls file's path.
void fetchControlsFilePath();

// The first-run test: true when the engine could be set up and controls.ini
// is not accessible in its per-user data folder.
bool controlsFileMissing();
