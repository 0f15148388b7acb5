#pragma once

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed: a device
// or an X connection opened later in its place would receive whatever is
// meant for a standard stream.
void occupyClosedStandardStreams();
