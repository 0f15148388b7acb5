#include <gtest/gtest.h>

#include "engine_interface.h"
#include "image_identity.h"
#include "process_runner.h"
#include "relaunch.h"

#include <cerrno>
#include <cstdint>
#include <new>
#include <cstdlib>
#include <dlfcn.h>
#include <string>
#include <unistd.h>

TEST(ContentsFolder, PrefixEndsBeforeSecondToLastSlash)
{
    const char* inFrameworks = "/B/Game.app/Contents/Frameworks/UnityPlayer.dylib";
    EXPECT_EQ(std::string(inFrameworks, contentsPrefixLength(inFrameworks)), "/B/Game.app/Contents");

    // No normalising: ".." stays part of the prefix.
    const char* dotted = "/B/Contents/MacOS/../Frameworks/UnityPlayer.dylib";
    EXPECT_EQ(std::string(dotted, contentsPrefixLength(dotted)), "/B/Contents/MacOS/..");

    EXPECT_EQ(contentsPrefixLength("UnityPlayer.dylib"), 0u);
    EXPECT_EQ(contentsPrefixLength("Frameworks/UnityPlayer.dylib"), 0u);
    EXPECT_EQ(contentsPrefixLength("/UnityPlayer.dylib"), 0u);
    EXPECT_EQ(contentsPrefixLength(""), 0u);
    EXPECT_EQ(contentsPrefixLength("a/b/c"), 1u);
}

// The folder's bytes as the engine's record names them, then "/controls.ini":
// a folder of one byte, and one of none, as the engine may name them.
TEST(UserFolder, RecordBytesThenTheFileName)
{
    static std::string named;
    EngineEntryPoints saved = engineEntryPoints;
    engineEntryPoints.engineUserDataFolder = [](EngineString* folder) {
        folder->characters = named.data();
        folder->length = named.size();
    };
    for (std::string folder : {"x", ""}) {
        named = folder + "garbage past the length";
        named.resize(folder.size());
        named.reserve(64);
        fetchControlsFilePath();
        EXPECT_EQ(userFolderLength, std::int32_t(folder.size()));
        EXPECT_STREQ(userFolderPath, (folder + "/controls.ini").c_str());
        delete[] userFolderPath;
    }
    engineEntryPoints = saved;
}

TEST(RelaunchVector, AppendsGameAndMarkerAfterTheSamePointers)
{
    char p[] = "P", a[] = "a", b[] = "";
    char* argv[] = {p, a, b, nullptr};
    char** vector = buildRelaunchVector(3, argv, "/note");
    EXPECT_EQ(vector[0], p);
    EXPECT_EQ(vector[1], a);
    EXPECT_EQ(vector[2], b);
    EXPECT_STREQ(vector[3], "-game");
    EXPECT_STREQ(vector[4], "/note");
    EXPECT_EQ(vector[5], nullptr);
    delete[] vector;

    char** withEmptyMarker = buildRelaunchVector(1, argv, "");
    EXPECT_EQ(withEmptyMarker[0], p);
    EXPECT_STREQ(withEmptyMarker[1], "-game");
    ASSERT_NE(withEmptyMarker[2], nullptr);
    EXPECT_STREQ(withEmptyMarker[2], "");
    EXPECT_EQ(withEmptyMarker[3], nullptr);
    delete[] withEmptyMarker;
}

TEST(RelaunchVector, NoArgumentsGivesAnEmptyProgramName)
{
    for (int argc : {0, -1}) {
        char** vector = buildRelaunchVector(argc, nullptr, "/note");
        EXPECT_STREQ(vector[0], "");
        EXPECT_STREQ(vector[1], "-game");
        EXPECT_STREQ(vector[2], "/note");
        EXPECT_EQ(vector[3], nullptr);
        delete[] vector;
    }
}

// An argument list larger than the kernel accepts makes execv fail for real;
// the child reports what relaunchWithMarker returned. Under the sanitizers the
// leak check at the child's exit catches an unreleased vector or path.
TEST(Relaunch, FailedExecReturnsMinusOneAndReleasesBuffers)
{
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::string huge(std::size_t(64) << 20, 'x');
        char program[] = "P";
        char* argv[] = {program, huge.data(), nullptr};
        int result = relaunchWithMarker(2, argv, "");
        int reason = errno;
        std::exit(result == -1 && reason == E2BIG ? 0 : 3);
    }
    EXPECT_EQ(waitForEnding(child, -1), exitedWith(0));
}

// The identity is read from the image in memory, as the dynamic loader mapped it.
TEST(EngineIdentity, OnlyTheTargetedBuildIsRecognised)
{
    Dl_info info {};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(&PlayerMain), &info), 0);
    const unsigned char* identity = nullptr;
    std::size_t standinIdentityLength = imageIdentity(info.dli_fbase, &identity);
    EXPECT_GE(standinIdentityLength, 16u);
    EXPECT_TRUE(isTargetedEngine(info.dli_fbase));

    const std::string engines = ENGINE_VARIANTS;
    struct Variant {
        const char* folder;
        std::size_t identityLength;
    } variants[] = {{"other-build", standinIdentityLength}, {"unplaced", standinIdentityLength}};
    for (const Variant& variant : variants) {
        SCOPED_TRACE(variant.folder);
        std::string path = engines + "/" + variant.folder + "/UnityPlayer.dylib";
        void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library, nullptr) << dlerror();
        Dl_info loaded {};
        ASSERT_NE(dladdr(dlsym(library, "PlayerMain"), &loaded), 0);
        ASSERT_NE(loaded.dli_fbase, info.dli_fbase);
        EXPECT_EQ(imageIdentity(loaded.dli_fbase, &identity), variant.identityLength);
        EXPECT_FALSE(isTargetedEngine(loaded.dli_fbase));
        dlclose(library);
    }
}

// The engine's allocation operators, which the executable binds in place of
// the runtime's, keep the language's promises: the alignment asked for,
// bad_alloc or null when memory runs out, the new-handler asked first.
TEST(EngineAllocation, OperatorsKeepTheLanguagesPromises)
{
#ifdef UNDER_ADDRESS_SANITIZER
    GTEST_SKIP() << "AddressSanitizer's operators are bound instead, and refuse huge sizes by ending the process";
#else
    using Allocate = void* (*)(std::size_t);
    Dl_info bound {}, engine {};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(static_cast<Allocate>(&::operator new)), &bound), 0);
    ASSERT_NE(dladdr(reinterpret_cast<void*>(&PlayerMain), &engine), 0);
    ASSERT_EQ(bound.dli_fbase, engine.dli_fbase) << "operator new is not the engine's";

    for (std::size_t alignment : {64, 4096}) {
        void* single = ::operator new(24, std::align_val_t(alignment));
        void* array = ::operator new[](24, std::align_val_t(alignment), std::nothrow);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(single) % alignment, 0u);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(array) % alignment, 0u);
        ::operator delete(single, std::align_val_t(alignment));
        ::operator delete[](array, std::align_val_t(alignment));
    }

    const std::size_t tooMuch = ~std::size_t(0) / 4;
    void* volatile kept = nullptr; // so that no call is left out
    EXPECT_THROW(kept = ::operator new[](tooMuch), std::bad_alloc);
    EXPECT_EQ(::operator new(tooMuch, std::nothrow), nullptr);
    EXPECT_EQ(::operator new(tooMuch, std::align_val_t(4096), std::nothrow), nullptr);
    static int handlerCalls = 0;
    std::set_new_handler([] {
        if (++handlerCalls == 2)
            std::set_new_handler(nullptr);
    });
    EXPECT_THROW(kept = ::operator new(tooMuch, std::align_val_t(64)), std::bad_alloc);
    EXPECT_EQ(handlerCalls, 2);
    EXPECT_EQ(kept, nullptr);
#endif
}
