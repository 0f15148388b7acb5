#pragma once

// "-tty": relay bytes between the standard streams and the terminal device
// named by the last argument. Returns 1 when the device cannot be opened;
// otherwise runs until the process is ended from outside.
int runTtyRelay(int argc, char** argv);
