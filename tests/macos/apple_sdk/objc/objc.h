#pragma once
// As in the SDK's <objc/objc.h>.
#ifdef __cplusplus
#define OBJC_EXPORT extern "C"
#else
#define OBJC_EXPORT extern
#endif

#if !OBJC_TYPES_DEFINED
typedef struct objc_class* Class;
struct objc_object {
    Class isa;
};
typedef struct objc_object* id;
#endif
typedef struct objc_selector* SEL;
// x86-64 macOS: BOOL is a signed char.
typedef signed char BOOL;
#define YES ((BOOL)1)
#define NO ((BOOL)0)
#ifndef nil
#define nil 0
#endif

OBJC_EXPORT SEL sel_getUid(const char* str);
