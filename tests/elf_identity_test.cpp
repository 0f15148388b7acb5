// The build-id reader on copies of the stand-in whose note segment was
// rewritten, as another linker or a damaged file would lay it out.

#include <gtest/gtest.h>

#include "engine_interface.h"
#include "image_identity.h"
#include "process_runner.h"

#include <cstring>
#include <dlfcn.h>
#include <elf.h>
#include <functional>
#include <link.h>
#include <string>

namespace {

// A copy of the stand-in with its note segment's header changed by rewrite.
std::string rewrittenStandin(const TemporaryFolder& folder, const std::function<void(ElfW(Phdr)&)>& rewrite)
{
    Dl_info info {};
    if (dladdr(reinterpret_cast<void*>(&PlayerMain), &info) == 0)
        return "";
    std::string image = readFile(info.dli_fname);
    ElfW(Ehdr) header;
    std::memcpy(&header, image.data(), sizeof header);
    for (int i = 0; i < header.e_phnum; ++i) {
        auto* segment = reinterpret_cast<ElfW(Phdr)*>(&image[header.e_phoff + std::size_t(i) * sizeof(ElfW(Phdr))]);
        if (segment->p_type == PT_NOTE)
            rewrite(*segment);
    }
    std::string path = folder.file("UnityPlayer.dylib");
    writeFile(path, image);
    return path;
}

struct LoadedImage {
    void* library = nullptr;
    const void* base = nullptr;

    explicit LoadedImage(const std::string& path) : library(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL))
    {
        Dl_info loaded {};
        if (library && dladdr(dlsym(library, "PlayerMain"), &loaded) != 0)
            base = loaded.dli_fbase;
    }
    ~LoadedImage()
    {
        if (library)
            dlclose(library);
    }
};

} // namespace

TEST(EngineIdentity, NoteSegmentsReadAsTheDynamicLoaderReadsThem)
{
    const unsigned char* identity = nullptr;
    {
        // The targeted build, its build-id note in an 8-aligned segment: the
        // descriptor follows the header and name at 16, not at 12 + 8.
        TemporaryFolder folder;
        LoadedImage eightAligned(rewrittenStandin(folder, [](ElfW(Phdr)& notes) { notes.p_align = 8; }));
        ASSERT_NE(eightAligned.base, nullptr) << dlerror();
        EXPECT_EQ(imageIdentity(eightAligned.base, &identity), 20u);
        EXPECT_TRUE(isTargetedEngine(eightAligned.base));
    }
    {
        // A size that wraps past the end of the address space.
        TemporaryFolder folder;
        LoadedImage wrapping(rewrittenStandin(folder, [](ElfW(Phdr)& notes) {
            notes.p_filesz = ~ElfW(Xword)(0);
            notes.p_memsz = ~ElfW(Xword)(0);
        }));
        ASSERT_NE(wrapping.base, nullptr) << dlerror();
        EXPECT_EQ(imageIdentity(wrapping.base, &identity), 0u);
        EXPECT_FALSE(isTargetedEngine(wrapping.base));
    }
}
