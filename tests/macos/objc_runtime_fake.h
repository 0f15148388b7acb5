#pragma once

// A recording stand-in for the parts of libobjc, AppKit, CoreGraphics and
// libSystem that the launcher's macOS platform layer calls.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct SentMessage {
    const void* receiver;
    std::string selector;
    std::vector<const void*> arguments; // pointer-sized arguments, in order
};

struct ObjcFake {
    std::vector<std::string> classesLookedUp;
    std::vector<SentMessage> messages;
    std::vector<std::string> events; // "push", "pop" and each message's selector, in order
    const void* defaultCenter = nullptr;
    const void* registeredBlock = nullptr;
    std::string executablePath;
    std::vector<std::pair<const void*, const void*>> executablePathCalls; // buffer, size
    std::uint64_t modifierFlags = 0;
    bool applicationHasActivate = false; // macOS 14 and later
    std::vector<std::int32_t> flagStatesAsked;
};

extern ObjcFake objcFake;

// The fake's objects: what the real runtime would hand out.
const void* fakeClass(const std::string& name);
extern "C" void* NSApp;
extern "C" void* NSApplicationDidFinishLaunchingNotification;
