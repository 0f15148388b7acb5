#include "file_attributes.h"

#include <algorithm>
#include <cerrno>
#include <string>
#include <sys/types.h>
#include <sys/xattr.h>
#include <vector>

// On Linux the access ACL is the attribute system.posix_acl_access.

namespace {

// Asks once for the size, then for the bytes, again if they grew meanwhile.
template <typename Query>
bool queryBytes(Query query, std::string* into)
{
    for (;;) {
        ssize_t size = query(nullptr, 0);
        if (size < 0)
            return false;
        into->assign(std::size_t(size), '\0');
        ssize_t got = query(into->data(), into->size());
        if (got >= 0) {
            into->resize(std::size_t(got));
            return true;
        }
        if (errno != ERANGE)
            return false;
    }
}

// The names a NUL-separated list holds.
std::vector<std::string> namesIn(const std::string& list)
{
    std::vector<std::string> names;
    for (std::size_t start = 0; start < list.size();) {
        std::size_t end = list.find('\0', start);
        names.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

} // namespace

bool copyFileAttributes(const char* from, int to)
{
    std::string wantedList, presentList;
    bool listed = queryBytes([&](char* bytes, std::size_t size) { return listxattr(from, bytes, size); }, &wantedList);
    // A file system that keeps no attributes has none to carry.
    if (!listed && errno != ENOTSUP)
        return false;
    if (!queryBytes([&](char* bytes, std::size_t size) { return flistxattr(to, bytes, size); }, &presentList) &&
        errno != ENOTSUP)
        return false;
    std::vector<std::string> wanted = namesIn(wantedList);
    for (const std::string& name : wanted) {
        std::string bytes, existing;
        if (!queryBytes([&](char* into, std::size_t size) { return getxattr(from, name.c_str(), into, size); }, &bytes))
            return false;
        // A new file's own label (security.selinux, say) is usually the same.
        if (queryBytes([&](char* into, std::size_t size) { return fgetxattr(to, name.c_str(), into, size); },
                       &existing) &&
            existing == bytes)
            continue;
        if (fsetxattr(to, name.c_str(), bytes.data(), bytes.size(), 0) != 0)
            return false;
    }
    // What the new file took from its folder (a default ACL) and the file had not.
    for (const std::string& name : namesIn(presentList))
        if (std::find(wanted.begin(), wanted.end(), name) == wanted.end() && fremovexattr(to, name.c_str()) != 0)
            return false;
    return true;
}
