#pragma once

// The build identity of a loaded library, read from its image in memory:
// the GNU build-id note of an ELF image, the LC_UUID of a Mach-O image.
// Nothing is read from files and nothing is allocated.

#include <cstddef>

// Points *identity at the identity's bytes inside the image at loadAddress
// and returns their count; 0 when the image carries none, or its headers are
// not of the kind this platform loads.
std::size_t imageIdentity(const void* loadAddress, const unsigned char** identity);
