#include "controls_file.h"

#include "control_schemes.h"
#include "launcher/engine_interface.h"

#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The file must be complete before it appears under its real name: a
// truncated controls.ini would pass the first-run test for ever.
bool writeBindings(std::FILE* file, const ControlScheme& scheme)
{
    for (const KeyCap& key : scheme.keys) {
        if (!key.action)
            continue;
        if (std::fprintf(file, "%s=%s\n", key.action, controlsKeyName(key.label)) < 0)
            return false;
    }
    return std::fflush(file) == 0 && fsync(fileno(file)) == 0;
}

// A new file gets the permissions fopen would have given it.
void applyDefaultPermissions(int fd)
{
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
}

void syncFolderOf(const std::string& path)
{
    std::string folder = path.substr(0, path.rfind('/'));
    int fd = open(folder.empty() ? "/" : folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return;
    fsync(fd);
    close(fd);
}

} // namespace

const char* controlsKeyName(const char* label)
{
    switch (static_cast<unsigned char>(label[0])) {
    case 0xAB: return "leftarrow";
    case 0xBB: return "rightarrow";
    case '-': return "downarrow";
    case '^': return "uparrow";
    default: return label;
    }
}

void writeControlsFile(int scheme)
{
    if (!engineIsReady() || scheme < 0 || scheme >= schemeCount)
        return;

    fetchControlsFilePath();
    std::string path(userFolderPath);
    delete[] userFolderPath;

    std::string temporaryPath = path + ".XXXXXX";
    int fd = mkstemp(temporaryPath.data());
    if (fd < 0)
        return;
    applyDefaultPermissions(fd);
    std::FILE* file = fdopen(fd, "w");
    if (!file) {
        close(fd);
        unlink(temporaryPath.c_str());
        return;
    }

    bool written = writeBindings(file, controlSchemes[scheme]);
    bool closed = std::fclose(file) == 0;
    if (!written || !closed || std::rename(temporaryPath.c_str(), path.c_str()) != 0) {
        unlink(temporaryPath.c_str());
        return;
    }
    syncFolderOf(path);
}
