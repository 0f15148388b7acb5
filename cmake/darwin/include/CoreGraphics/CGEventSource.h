#pragma once
// As in the SDK's <CoreGraphics/CGEventSource.h> and <CGEventTypes.h>.
#include <stdint.h>

#ifdef __cplusplus
#define CG_EXTERN extern "C"
#else
#define CG_EXTERN extern
#endif

typedef int32_t CGEventSourceStateID;
enum {
    kCGEventSourceStatePrivate = -1,
    kCGEventSourceStateCombinedSessionState = 0,
    kCGEventSourceStateHIDSystemState = 1,
};

typedef uint64_t CGEventFlags;
enum : uint64_t {
    kCGEventFlagMaskAlphaShift = 0x00010000,
    kCGEventFlagMaskShift = 0x00020000,
    kCGEventFlagMaskControl = 0x00040000,
    kCGEventFlagMaskAlternate = 0x00080000,
    kCGEventFlagMaskCommand = 0x00100000,
};

CG_EXTERN CGEventFlags CGEventSourceFlagsState(CGEventSourceStateID stateID);
