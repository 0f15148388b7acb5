#pragma once

// Extended attributes and access control lists go with a file's contents,
// not with its mode, so a replacement written beside the file must be given
// them to grant no one more and no one less than the file did.

// Gives the open file `to` exactly the extended attributes (and with them
// the access ACL) of the file at `from`. False when any could not be read
// or given, and the replacement would then not stand in for the file.
bool copyFileAttributes(const char* from, int to);
