#include "objc_runtime_fake.h"

#include <cstdarg>
#include <cstring>
#include <map>
#include <set>

ObjcFake objcFake;

extern "C" void* NSApp = nullptr;
static char notificationName[] = "NSApplicationDidFinishLaunchingNotification";
extern "C" void* NSApplicationDidFinishLaunchingNotification = notificationName;

namespace {

std::map<std::string, char> classes;
std::set<std::string> selectors;
char center;
char observerToken;
char mainBundle;
char bundleIdentifier[] = "com.example.game";

} // namespace

const void* fakeClass(const std::string& name)
{
    return &classes[name];
}

extern "C" {

void* objc_getClass(const char* name)
{
    objcFake.classesLookedUp.push_back(name);
    return const_cast<void*>(fakeClass(name));
}

void* sel_getUid(const char* name)
{
    return const_cast<char*>(selectors.insert(name).first->c_str());
}

// Apple's dispatch takes any method's arguments; the calls under test pass
// pointers and a BOOL, which arrive here as pointer-sized and int arguments.
void* objc_msgSend(void* self, void* op, ...)
{
    SentMessage message {self, static_cast<const char*>(op), {}};
    va_list arguments;
    va_start(arguments, op);
    void* result = nullptr;
    if (message.selector == "defaultCenter") {
        objcFake.defaultCenter = &center;
        result = &center;
    } else if (message.selector == "addObserverForName:object:queue:usingBlock:") {
        for (int i = 0; i < 4; ++i)
            message.arguments.push_back(va_arg(arguments, void*));
        objcFake.registeredBlock = message.arguments[3];
        result = &observerToken;
    } else if (message.selector == "respondsToSelector:") {
        message.arguments.push_back(va_arg(arguments, void*));
        // What macOS 14 added.
        std::string asked = static_cast<const char*>(message.arguments[0]);
        bool added = asked == "activate" || asked == "yieldActivationToApplicationWithBundleIdentifier:";
        result = reinterpret_cast<void*>(std::intptr_t(added && objcFake.applicationHasActivate));
    } else if (message.selector == "mainBundle") {
        result = &mainBundle;
    } else if (message.selector == "bundleIdentifier") {
        result = self == &mainBundle ? bundleIdentifier : nullptr;
    } else if (message.selector == "yieldActivationToApplicationWithBundleIdentifier:") {
        message.arguments.push_back(va_arg(arguments, void*));
    } else if (message.selector == "activateIgnoringOtherApps:") {
        message.arguments.push_back(reinterpret_cast<const void*>(std::intptr_t(va_arg(arguments, int))));
    }
    va_end(arguments);
    objcFake.events.push_back(message.selector);
    objcFake.messages.push_back(message);
    return result;
}

void* objc_autoreleasePoolPush(void)
{
    objcFake.events.push_back("push");
    return &objcFake;
}

void objc_autoreleasePoolPop(void* pool)
{
    objcFake.events.push_back(pool == &objcFake ? "pop" : "pop of an unknown pool");
}

// Apple's contract: the size needed, NUL included, when the buffer is too small.
int _NSGetExecutablePath(char* buffer, std::uint32_t* size)
{
    objcFake.executablePathCalls.emplace_back(buffer, size);
    std::uint32_t needed = std::uint32_t(objcFake.executablePath.size() + 1);
    if (*size < needed) {
        *size = needed;
        return -1;
    }
    std::memcpy(buffer, objcFake.executablePath.c_str(), needed);
    return 0;
}

std::uint64_t CGEventSourceFlagsState(std::int32_t state)
{
    objcFake.flagStatesAsked.push_back(state);
    return objcFake.modifierFlags;
}

} // extern "C"
