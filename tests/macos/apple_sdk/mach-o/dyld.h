#pragma once
// As in the SDK's <mach-o/dyld.h>.
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif
extern int _NSGetExecutablePath(char* buf, uint32_t* bufsize);
#ifdef __cplusplus
}
#endif
