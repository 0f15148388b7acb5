#include "platform.h"

#include <CoreGraphics/CGEventSource.h>
#include <mach-o/dyld.h>
#include <objc/message.h>
#include <objc/runtime.h>

// Cocoa is reached through the Objective-C runtime alone, so the launcher
// needs no Objective-C classes of its own.

extern "C" void* NSApp;
extern "C" void* const NSApplicationDidFinishLaunchingNotification;

void registerActivationObserver()
{
    void (^activationObserver)(void*) = ^(void*) {
        using ActivateFunction = void (*)(void*, SEL, signed char);
        reinterpret_cast<ActivateFunction>(objc_msgSend)(NSApp, sel_getUid("activateIgnoringOtherApps:"), 1);
    };

    using DefaultCenterFunction = void* (*)(Class, SEL);
    using AddObserverFunction = void* (*)(void*, SEL, void*, void*, void*, void (^)(void*));
    void* center = reinterpret_cast<DefaultCenterFunction>(objc_msgSend)(
        objc_getClass("NSNotificationCenter"), sel_getUid("defaultCenter"));
    // The observer stays for the life of the process; its token is not needed.
    reinterpret_cast<AddObserverFunction>(objc_msgSend)(
        center, sel_getUid("addObserverForName:object:queue:usingBlock:"),
        NSApplicationDidFinishLaunchingNotification, nullptr, nullptr, activationObserver);
}

int executablePath(char* buffer, std::uint32_t* size)
{
    return _NSGetExecutablePath(buffer, size);
}

bool openDisplay()
{
    return true;
}

void* displayConnection()
{
    return nullptr;
}

bool optionKeyHeld()
{
    // The session's modifier state: no window, event loop or permission needed.
    return (CGEventSourceFlagsState(kCGEventSourceStateCombinedSessionState) & kCGEventFlagMaskAlternate) != 0;
}
