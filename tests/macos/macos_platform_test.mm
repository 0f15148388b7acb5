#include <gtest/gtest.h>

#include "objc_runtime_fake.h"
#include "display.h"
#include "platform.h"

#include <CoreGraphics/CGEventSource.h>

namespace {

using Strings = std::vector<std::string>;

} // namespace

TEST(MacPlatform, ObserverIsRegisteredOnTheDefaultCenterInsideAPool)
{
    objcFake = {};
    registerActivationObserver();

    EXPECT_EQ(objcFake.classesLookedUp, Strings {"NSNotificationCenter"});
    EXPECT_EQ(objcFake.events, (Strings {"push", "defaultCenter", "addObserverForName:object:queue:usingBlock:", "pop"}));
    ASSERT_EQ(objcFake.messages.size(), 2u);
    EXPECT_EQ(objcFake.messages[0].receiver, fakeClass("NSNotificationCenter"));
    const SentMessage& add = objcFake.messages[1];
    EXPECT_EQ(add.receiver, objcFake.defaultCenter);
    ASSERT_EQ(add.arguments.size(), 4u);
    EXPECT_EQ(add.arguments[0], NSApplicationDidFinishLaunchingNotification);
    EXPECT_EQ(add.arguments[1], nullptr);
    EXPECT_EQ(add.arguments[2], nullptr);
    EXPECT_NE(add.arguments[3], nullptr);
}

TEST(MacPlatform, ObserverActivatesTheApplicationAsItIsWhenTheNotificationComes)
{
    objcFake = {};
    registerActivationObserver();
    auto observer = reinterpret_cast<void (^)(void*)>(const_cast<void*>(objcFake.registeredBlock));
    ASSERT_NE(observer, nullptr);
    objcFake.messages.clear();
    objcFake.events.clear();

    // Before macOS 14 activateIgnoringOtherApps: YES; from then on activate.
    char firstApplication, laterApplication;
    NSApp = &firstApplication;
    observer(nullptr);
    NSApp = &laterApplication;
    objcFake.applicationHasActivate = true;
    observer(nullptr);
    NSApp = nullptr;

    EXPECT_EQ(objcFake.events,
              (Strings {"respondsToSelector:", "activateIgnoringOtherApps:", "respondsToSelector:", "activate"}));
    ASSERT_EQ(objcFake.messages.size(), 4u);
    const void* receivers[] = {&firstApplication, &firstApplication, &laterApplication, &laterApplication};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(objcFake.messages[i].receiver, receivers[i]);
    EXPECT_STREQ(static_cast<const char*>(objcFake.messages[0].arguments.at(0)), "activate");
    EXPECT_EQ(objcFake.messages[1].arguments, std::vector<const void*> {reinterpret_cast<const void*>(1)});
    EXPECT_TRUE(objcFake.messages[3].arguments.empty());
}

// From macOS 14 the chooser yields activation to the bundle it relaunches
// as; before, and with no application (no chooser shown), nothing is sent.
TEST(MacPlatform, ActivationIsYieldedToTheRelaunchedBundleFromMacOs14)
{
    objcFake = {};
    yieldActivationToRelaunch();
    char application;
    NSApp = &application;
    yieldActivationToRelaunch();
    objcFake.applicationHasActivate = true;
    yieldActivationToRelaunch();
    NSApp = nullptr;

    EXPECT_EQ(objcFake.events, (Strings {"respondsToSelector:", "respondsToSelector:", "push", "mainBundle",
                                         "bundleIdentifier", "yieldActivationToApplicationWithBundleIdentifier:",
                                         "pop"}));
    const SentMessage& yield = objcFake.messages.back();
    EXPECT_EQ(yield.receiver, &application);
    ASSERT_EQ(yield.arguments.size(), 1u);
    EXPECT_STREQ(static_cast<const char*>(yield.arguments[0]), "com.example.game");
}

// The platform layer hands the caller's buffer and size to libSystem as they
// are, and its answer back.
TEST(MacPlatform, ExecutablePathIsLibSystemsAnswerToTheCallersBuffer)
{
    objcFake = {};
    objcFake.executablePath = "/Applications/Game.app/Contents/MacOS/Game";
    std::uint32_t size = 0;
    EXPECT_EQ(executablePath(nullptr, &size), -1);
    char buffer[64];
    std::uint32_t bufferSize = sizeof buffer;
    EXPECT_EQ(executablePath(buffer, &bufferSize), 0);
    ASSERT_EQ(objcFake.executablePathCalls.size(), 2u);
    EXPECT_EQ(objcFake.executablePathCalls[0], (std::pair<const void*, const void*> {nullptr, &size}));
    EXPECT_EQ(objcFake.executablePathCalls[1], (std::pair<const void*, const void*> {buffer, &bufferSize}));
    EXPECT_EQ(size, objcFake.executablePath.size() + 1);
}

// The chooser runs in the process itself; held Option, from the session's
// modifier flags, is the player's way back to it.
TEST(MacPlatform, ChooserRunsWhereTheOptionKeyIsHeldOrItIsAskedFor)
{
    objcFake = {};
    static int runs = 0;
    auto chooser = [] { return ++runs == 1 ? 0 : 1; };
    objcFake.modifierFlags = kCGEventFlagMaskAlternate | kCGEventFlagMaskShift;
    EXPECT_EQ(runOnDisplay(chooser, true), 0);
    objcFake.modifierFlags = kCGEventFlagMaskCommand | kCGEventFlagMaskShift | kCGEventFlagMaskControl;
    EXPECT_EQ(runOnDisplay(chooser, true), -1);
    EXPECT_EQ(runOnDisplay(chooser, false), 1);
    EXPECT_EQ(runs, 2);
    EXPECT_EQ(objcFake.flagStatesAsked, (std::vector<std::int32_t> {0, 0}));
}
