#pragma once

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed, so that
// nothing the program or a library opens later takes a standard stream's
// number: a terminal device or an X connection there would receive whatever
// is meant for standard output or standard error.
void occupyClosedStandardStreams();
