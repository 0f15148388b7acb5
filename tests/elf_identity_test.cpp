// The build-id reader on copies of the stand-in whose note segment was
// rewritten, as another linker or a damaged file would lay it out.

#include <gtest/gtest.h>

#include "engine_interface.h"
#include "image_identity.h"
#include "process_runner.h"

#include <cstdint>
#include <cstring>
#include <dlfcn.h>
#include <elf.h>
#include <functional>
#include <link.h>
#include <string>
#include <vector>

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

struct Note {
    std::uint32_t type;
    std::string name;
    std::string description;
};

// A page-sized image laid out by hand: the ELF header, one segment over the
// whole page, and a note segment with these notes, aligned as given.
struct SyntheticImage {
    std::uint64_t words[512] = {}; // 8-aligned, as a loaded image is
    ElfW(Ehdr) header {};

    SyntheticImage(const std::vector<Note>& notes, std::size_t alignment)
    {
        auto* bytes = reinterpret_cast<unsigned char*>(words);
        auto alignUp = [&](std::size_t value) { return (value + alignment - 1) / alignment * alignment; };
        const std::size_t notesStart = 256;
        std::size_t offset = notesStart;
        for (const Note& note : notes) {
            ElfW(Nhdr) noteHeader {std::uint32_t(note.name.size() + 1), std::uint32_t(note.description.size()),
                                   note.type};
            std::memcpy(bytes + offset, &noteHeader, sizeof noteHeader);
            std::memcpy(bytes + offset + sizeof noteHeader, note.name.c_str(), note.name.size() + 1);
            std::size_t description = alignUp(offset + sizeof noteHeader + noteHeader.n_namesz);
            std::memcpy(bytes + description, note.description.data(), note.description.size());
            offset = alignUp(description + note.description.size());
        }
        ElfW(Phdr) segments[2] = {};
        segments[0].p_type = PT_LOAD;
        segments[0].p_filesz = segments[0].p_memsz = sizeof words;
        segments[1].p_type = PT_NOTE;
        segments[1].p_offset = segments[1].p_vaddr = notesStart;
        segments[1].p_filesz = segments[1].p_memsz = offset - notesStart;
        segments[1].p_align = alignment;
        std::memcpy(header.e_ident, ELFMAG, SELFMAG);
        header.e_ident[EI_CLASS] = ELFCLASS64;
        header.e_type = ET_DYN;
        header.e_phoff = sizeof header;
        header.e_phentsize = sizeof(ElfW(Phdr));
        header.e_phnum = 2;
        std::memcpy(bytes + sizeof header, segments, sizeof segments);
        store();
    }
    void store() { std::memcpy(words, &header, sizeof header); }
};

} // namespace

// Notes ahead of the build-id (another vendor's, GNU's ABI tag, an empty build-id) are
// stepped over as the loader lays them out, 4- or 8-aligned; a header whose
// program headers would lie past the address space's end is refused.
TEST(EngineIdentity, SyntheticNotesAndHeaders)
{
    const std::string buildId = "\x5c\xa1\xab\x1e\x0d\xdb\xa1\x1c\x0f\xfe\xe5\xee\xdf\xac\xad\xe5\xca\x1a\xb1\xe0";
    std::vector<Note> notes = {{1, "ACME", std::string(20, '\xaa')}, {NT_GNU_ABI_TAG, "GNU", std::string(16, '\x03')},
                               {NT_GNU_BUILD_ID, "GNU", ""}, {NT_GNU_BUILD_ID, "GNU", buildId}};
    for (std::size_t alignment : {4, 8}) {
        SCOPED_TRACE(std::to_string(alignment) + "-aligned notes");
        SyntheticImage image(notes, alignment);
        const unsigned char* identity = nullptr;
        ASSERT_EQ(imageIdentity(image.words, &identity), buildId.size());
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(identity), buildId.size()), buildId);

        // Program headers that end exactly where the first page does are
        // read; one byte further they would not all be mapped.
        auto* bytes = reinterpret_cast<unsigned char*>(image.words);
        const std::size_t atTheEnd = sizeof image.words - 2 * sizeof(ElfW(Phdr));
        std::memcpy(bytes + atTheEnd, bytes + image.header.e_phoff, 2 * sizeof(ElfW(Phdr)));
        image.header.e_phoff = atTheEnd;
        image.store();
        EXPECT_EQ(imageIdentity(image.words, &identity), buildId.size());
        // A third entry (of no type in use) that ends 8 bytes past the page.
        std::memcpy(bytes + atTheEnd - 48, bytes + sizeof(ElfW(Ehdr)), 2 * sizeof(ElfW(Phdr)));
        image.header.e_phoff = atTheEnd - 48;
        image.header.e_phnum = 3;
        image.store();
        EXPECT_EQ(imageIdentity(image.words, &identity), 0u);
        image.header.e_phnum = 2;

        image.header.e_phoff = ~ElfW(Off)(0) - 15;
        image.store();
        EXPECT_EQ(imageIdentity(image.words, &identity), 0u);
        EXPECT_EQ(imageIdentity(nullptr, &identity), 0u);
    }
}

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
