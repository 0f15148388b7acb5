#include <gtest/gtest.h>

#include "engine_build_id.h"
#include "image_identity.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

// A library's bytes in memory, aligned as a mapped image is; its headers lie
// at its start as they do at a loaded image's address.
std::vector<std::uint64_t> imageOf(const char* path)
{
    std::ifstream file(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::vector<std::uint64_t> image(bytes.size() / 8 + 1);
    std::memcpy(image.data(), bytes.data(), bytes.size());
    return image;
}

} // namespace

TEST(MachOIdentity, UuidOfTheLinkedEngineAndNoneWhereThereIsNone)
{
    const unsigned char* identity = nullptr;
    auto engine = imageOf(MACHO_ENGINE);
    ASSERT_EQ(imageIdentity(engine.data(), &identity), sizeof targetEngineIdentity);
    EXPECT_EQ(std::memcmp(identity, targetEngineIdentity, sizeof targetEngineIdentity), 0)
        << "the reader and llvm-objdump disagree on the UUID";

    auto withoutUuid = imageOf(MACHO_ENGINE_WITHOUT_UUID);
    EXPECT_EQ(imageIdentity(withoutUuid.data(), &identity), 0u);
    // An ELF image is no Mach-O image.
    auto elf = imageOf(ELF_ENGINE);
    EXPECT_EQ(imageIdentity(elf.data(), &identity), 0u);
}
