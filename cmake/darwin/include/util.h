#pragma once
// As in the SDK's <util.h>: pseudo-terminals.
#include <termios.h>
#include <sys/ioctl.h>

#ifdef __cplusplus
extern "C" {
#endif
int openpty(int* amaster, int* aslave, char* name, struct termios* termp, struct winsize* winp);
#ifdef __cplusplus
}
#endif
