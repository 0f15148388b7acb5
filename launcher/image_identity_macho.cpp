#include "image_identity.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mach-o/loader.h>

std::size_t imageIdentity(const void* loadAddress, const unsigned char** identity)
{
    auto* image = static_cast<const unsigned char*>(loadAddress);
    if (!image)
        return 0;
    mach_header_64 header;
    std::memcpy(&header, image, sizeof header);
    if (header.magic != MH_MAGIC_64)
        return 0;
    // The load commands follow the header inside the mapped __TEXT segment.
    const unsigned char* command = image + sizeof header;
    const unsigned char* end = command + header.sizeofcmds;
    for (std::uint32_t i = 0; i < header.ncmds; ++i) {
        load_command current;
        if (command + sizeof current > end)
            return 0;
        std::memcpy(&current, command, sizeof current);
        if (current.cmdsize < sizeof current || command + current.cmdsize > end)
            return 0;
        if (current.cmd == LC_UUID && current.cmdsize >= sizeof(uuid_command)) {
            *identity = command + offsetof(uuid_command, uuid);
            return sizeof(uuid_command::uuid);
        }
        command += current.cmdsize;
    }
    return 0;
}
