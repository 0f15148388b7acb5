#pragma once

// Replacing a file's contents whole, or not at all: a failed write never
// leaves a partial file behind, and a replacement carries all that the file
// carried (owner, group, mode, extended attributes, ACL).

#include <string>

// A link's file at the end of its chain is the one replaced; one this user may
// not write is left alone; one with other names, or where nothing can be made
// beside it, is rewritten in place. Failures are silent.
void replaceFileWhole(const std::string& path, const std::string& contents);
