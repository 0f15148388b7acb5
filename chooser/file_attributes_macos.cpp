#include "file_attributes.h"

#include <cerrno>
#include <copyfile.h>
#include <fcntl.h>
#include <string>
#include <sys/acl.h>
#include <unistd.h>

namespace {

// The file's extended ACL as text, "" where it has none; false when it
// cannot be read.
bool aclText(int fd, std::string* text)
{
    acl_t acl = acl_get_fd_np(fd, ACL_TYPE_EXTENDED);
    if (!acl) {
        text->clear();
        return errno == ENOENT;
    }
    ssize_t length = 0;
    char* written = acl_to_text(acl, &length);
    acl_free(acl);
    if (!written)
        return false;
    text->assign(written, std::size_t(length));
    acl_free(written);
    return true;
}

} // namespace

bool copyFileAttributes(const char* from, int to)
{
    int source = open(from, O_RDONLY);
    if (source < 0)
        return false;
    // fcopyfile answers success when it could not apply the ACL (it only
    // logs that), so the ACL the copy ended up with is what decides.
    std::string wanted, given;
    bool copied = fcopyfile(source, to, nullptr, COPYFILE_ACL | COPYFILE_XATTR) == 0 && aclText(source, &wanted) &&
                  aclText(to, &given) && wanted == given;
    close(source);
    return copied;
}
