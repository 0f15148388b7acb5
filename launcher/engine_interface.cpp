#include "engine_interface.h"

#include "engine_build_id.h"
#include "engine_routine_offsets.h"
#include "image_identity.h"

#include <cstring>
#include <dlfcn.h>
#include <unistd.h>

const std::uint64_t engineEntryOffsets[3] = {ENGINE_PREPARE_OFFSET, ENGINE_SET_DATA_FOLDERS_OFFSET,
                                             ENGINE_USER_DATA_FOLDER_OFFSET};

EngineEntryPoints engineEntryPoints = {nullptr, nullptr, nullptr};

char* userFolderPath = nullptr;
std::int32_t userFolderLength = 0;

namespace {

bool engineAccepted = false;

constexpr char dataFolderSuffix[] = "/Resources/Data";
constexpr std::size_t dataFolderSuffixLength = sizeof(dataFolderSuffix) - 1;
constexpr char controlsFileName[] = "/controls.ini";
static_assert(sizeof(controlsFileName) == userFolderSpareBytes, "spare bytes hold the file name and NUL");

} // namespace

bool isTargetedEngine(const void* loadAddress)
{
    const unsigned char* identity = nullptr;
    std::size_t length = imageIdentity(loadAddress, &identity);
    return length == sizeof targetEngineIdentity && std::memcmp(identity, targetEngineIdentity, length) == 0;
}

std::size_t contentsPrefixLength(const char* libraryPath)
{
    // One walk, remembering the last two slashes seen.
    std::size_t last = 0;
    std::size_t secondToLast = 0;
    bool seenOne = false;
    for (std::size_t i = 0; libraryPath[i] != '\0'; ++i) {
        if (libraryPath[i] != '/')
            continue;
        secondToLast = seenOne ? last : 0;
        last = i;
        seenOne = true;
    }
    return secondToLast;
}

bool setUpEngine()
{
    Dl_info info {};
    if (dladdr(reinterpret_cast<void*>(&PlayerMain), &info) == 0 || !info.dli_fname)
        return false;
    // The offsets hold the routines only in the one build they were taken
    // from; in any other engine they may point anywhere.
    if (!isTargetedEngine(info.dli_fbase))
        return false;

    std::size_t prefixLength = contentsPrefixLength(info.dli_fname);
    char* folders = new char[prefixLength + dataFolderSuffixLength + 1];
    std::memcpy(folders, info.dli_fname, prefixLength);
    std::memcpy(folders + prefixLength, dataFolderSuffix, dataFolderSuffixLength + 1);

    auto base = reinterpret_cast<std::uintptr_t>(info.dli_fbase);
    engineEntryPoints.enginePrepare = reinterpret_cast<EnginePrepareFunction>(base + engineEntryOffsets[0]);
    engineEntryPoints.engineSetDataFolders =
        reinterpret_cast<EngineSetDataFoldersFunction>(base + engineEntryOffsets[1]);
    engineEntryPoints.engineUserDataFolder =
        reinterpret_cast<EngineUserDataFolderFunction>(base + engineEntryOffsets[2]);

    // Both records share the one buffer: the contents folder is counted, not
    // terminated (its next byte is the '/' of "/Resources").
    EngineString dataFolder;
    dataFolder.characters = folders;
    dataFolder.count = dataFolder.length = prefixLength + dataFolderSuffixLength;
    dataFolder.flags = 0;
    EngineString contentsFolder;
    contentsFolder.characters = folders;
    contentsFolder.count = contentsFolder.length = prefixLength;
    contentsFolder.flags = 0;

    engineEntryPoints.enginePrepare();
    bool accepted = engineEntryPoints.engineSetDataFolders(&dataFolder, &contentsFolder);
    delete[] folders;
    engineAccepted = accepted;
    return accepted;
}

bool engineIsReady()
{
    return engineAccepted;
}

void fetchUserFolder()
{
    EngineString folder;
    engineEntryPoints.engineUserDataFolder(&folder);
    std::uint64_t length = folder.length;
    userFolderPath = new char[length + userFolderSpareBytes];
    userFolderLength = static_cast<std::int32_t>(length);
    if (userFolderLength > 0)
        std::memcpy(userFolderPath, folder.characters, static_cast<std::size_t>(userFolderLength));
}

void fetchControlsFilePath()
{
    fetchUserFolder();
    std::memcpy(userFolderPath + userFolderLength, controlsFileName, sizeof(controlsFileName));
}

bool controlsFileMissing()
{
    if (!setUpEngine())
        return false;
    fetchControlsFilePath();
    int result = access(userFolderPath, F_OK);
    delete[] userFolderPath;
    return result < 0;
}
