#include "file_attributes.h"

#include <copyfile.h>
#include <fcntl.h>
#include <unistd.h>

bool copyFileAttributes(const char* from, int to)
{
    int source = open(from, O_RDONLY);
    if (source < 0)
        return false;
    bool copied = fcopyfile(source, to, nullptr, COPYFILE_ACL | COPYFILE_XATTR) == 0;
    close(source);
    return copied;
}
