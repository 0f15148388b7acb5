#include "controls_file.h"

#include "control_schemes.h"
#include "file_replacement.h"
#include "launcher/engine_interface.h"

#include <string>

namespace {

// "%s=%s\n" for every bound key, in table order.
std::string bindingsText(const ControlScheme& scheme)
{
    std::string text;
    for (const KeyCap& key : scheme.keys) {
        if (!key.action)
            continue;
        text += key.action;
        text += '=';
        text += controlsKeyName(key.label);
        text += '\n';
    }
    return text;
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
    std::string path = userFolderPath;
    delete[] userFolderPath;
    replaceFileWhole(path, bindingsText(controlSchemes[scheme]));
}
