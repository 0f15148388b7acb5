#include "file_attributes.h"

#include <cerrno>
#include <cstring>
#include <sys/types.h>
#include <sys/xattr.h>
#include <vector>

// On Linux the access ACL is the attribute system.posix_acl_access.

namespace {

// Linux keeps no attribute's value, and no list of names, past 64 KiB.
constexpr std::size_t largest = 65536;

bool isListed(const std::vector<char>& list, ssize_t size, const char* name)
{
    for (const char* listed = list.data(); listed < list.data() + size; listed += std::strlen(listed) + 1)
        if (std::strcmp(listed, name) == 0)
            return true;
    return false;
}

} // namespace

bool copyFileAttributes(const char* from, int to)
{
    std::vector<char> wanted(largest), present(largest), value(largest), existing(largest);
    // A file system that keeps no attributes has none to carry.
    ssize_t wantedSize = listxattr(from, wanted.data(), largest);
    if (wantedSize < 0 && errno != ENOTSUP)
        return false;
    ssize_t presentSize = flistxattr(to, present.data(), largest);
    if (presentSize < 0 && errno != ENOTSUP)
        return false;
    for (const char* name = wanted.data(); name < wanted.data() + wantedSize; name += std::strlen(name) + 1) {
        ssize_t size = getxattr(from, name, value.data(), largest);
        if (size < 0)
            return false;
        // A new file's own label (security.selinux, say) is usually the same.
        ssize_t had = fgetxattr(to, name, existing.data(), largest);
        if (had == size && std::memcmp(existing.data(), value.data(), std::size_t(size)) == 0)
            continue;
        if (fsetxattr(to, name, value.data(), std::size_t(size), 0) != 0)
            return false;
    }
    // What the new file took from its folder (a default ACL) and the file had not.
    for (const char* name = present.data(); name < present.data() + presentSize; name += std::strlen(name) + 1)
        if (!isListed(wanted, wantedSize, name) && fremovexattr(to, name) != 0)
            return false;
    return true;
}
