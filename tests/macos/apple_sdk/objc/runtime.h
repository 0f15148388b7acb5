#pragma once
// As in the SDK's <objc/runtime.h>.
#include <objc/objc.h>

OBJC_EXPORT Class objc_getClass(const char* name);
