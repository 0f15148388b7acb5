#include "display.h"
#include "platform.h"

#include <CoreGraphics/CGEventSource.h>
#include <mach-o/dyld.h>
#include <objc/message.h>
#include <objc/runtime.h>

// Cocoa is reached through the Objective-C runtime alone, so the launcher
// needs no Objective-C classes of its own and no AppKit headers.

extern "C" {
// AppKit's shared application object and notification name.
extern id NSApp;
extern id NSApplicationDidFinishLaunchingNotification;
// libobjc's autorelease pool, the calls @autoreleasepool compiles to.
void* objc_autoreleasePoolPush(void);
void objc_autoreleasePoolPop(void* pool);
}

void registerActivationObserver()
{
    // Reads NSApp when the notification comes, not now: it is nil until then.
    // activateIgnoringOtherApps: is deprecated from macOS 14, whose
    // cooperative activation may leave the window behind; activate replaces it.
    void (^activationObserver)(id) = ^(id) {
        using RespondsFunction = BOOL (*)(id, SEL, SEL);
        using ActivateFunction = void (*)(id, SEL);
        using ActivateIgnoringFunction = void (*)(id, SEL, BOOL);
        SEL activate = sel_getUid("activate");
        if (reinterpret_cast<RespondsFunction>(objc_msgSend)(NSApp, sel_getUid("respondsToSelector:"), activate))
            reinterpret_cast<ActivateFunction>(objc_msgSend)(NSApp, activate);
        else
            reinterpret_cast<ActivateIgnoringFunction>(objc_msgSend)(NSApp, sel_getUid("activateIgnoringOtherApps:"),
                                                                     YES);
    };

    // Without a pool of our own, Cocoa's autoreleased objects would have none
    // to go to, and the runtime would say so on standard error.
    void* pool = objc_autoreleasePoolPush();
    using DefaultCenterFunction = id (*)(Class, SEL);
    using AddObserverFunction = id (*)(id, SEL, id, id, id, void (^)(id));
    id center = reinterpret_cast<DefaultCenterFunction>(objc_msgSend)(objc_getClass("NSNotificationCenter"),
                                                                       sel_getUid("defaultCenter"));
    // The observer stays for the life of the process; its token is not needed.
    reinterpret_cast<AddObserverFunction>(objc_msgSend)(
        center, sel_getUid("addObserverForName:object:queue:usingBlock:"), NSApplicationDidFinishLaunchingNotification,
        nil, nil, activationObserver);
    objc_autoreleasePoolPop(pool);
}

void yieldActivationToRelaunch()
{
    // From macOS 14 activation is cooperative: the chooser, active as the
    // player confirms, lets the game it becomes come to the front too.
    using RespondsFunction = BOOL (*)(id, SEL, SEL);
    using ObjectFunction = id (*)(id, SEL);
    using YieldFunction = void (*)(id, SEL, id);
    SEL yield = sel_getUid("yieldActivationToApplicationWithBundleIdentifier:");
    if (!NSApp || !reinterpret_cast<RespondsFunction>(objc_msgSend)(NSApp, sel_getUid("respondsToSelector:"), yield))
        return;
    void* pool = objc_autoreleasePoolPush();
    id bundle = reinterpret_cast<ObjectFunction>(objc_msgSend)(reinterpret_cast<id>(objc_getClass("NSBundle")),
                                                               sel_getUid("mainBundle"));
    id identifier = reinterpret_cast<ObjectFunction>(objc_msgSend)(bundle, sel_getUid("bundleIdentifier"));
    if (identifier)
        reinterpret_cast<YieldFunction>(objc_msgSend)(NSApp, yield, identifier);
    objc_autoreleasePoolPop(pool);
}

int executablePath(char* buffer, std::uint32_t* size)
{
    return _NSGetExecutablePath(buffer, size);
}

// The session's modifier state: no window, event loop or permission needed.
static bool optionKeyHeld()
{
    return (CGEventSourceFlagsState(kCGEventSourceStateCombinedSessionState) & kCGEventFlagMaskAlternate) != 0;
}

int runOnDisplay(int (*chooser)(), bool onlyIfOptionHeld)
{
    // The window server is part of the system, not a connection that stalls.
    if (onlyIfOptionHeld && !optionKeyHeld())
        return -1;
    return chooser();
}

void windowShown() {}

void* displayConnection()
{
    return nullptr;
}
