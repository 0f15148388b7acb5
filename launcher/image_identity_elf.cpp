#include "image_identity.h"

#include <cstring>
#include <elf.h>
#include <link.h>

namespace {

// Only the first page is sure to be mapped before the segments are known.
constexpr std::size_t firstPage = 4096;

std::size_t alignUp(std::size_t value, std::size_t alignment)
{
    return (value + alignment - 1) / alignment * alignment;
}

// Whether [address, address + size) lies inside a loaded segment's file bytes;
// no sum is formed, so a size near the top of the range cannot wrap.
bool isMapped(const ElfW(Phdr)* headers, int count, ElfW(Addr) address, std::size_t size)
{
    for (int i = 0; i < count; ++i) {
        const ElfW(Phdr)& segment = headers[i];
        if (segment.p_type != PT_LOAD || address < segment.p_vaddr)
            continue;
        ElfW(Addr) start = address - segment.p_vaddr;
        if (start <= segment.p_filesz && size <= segment.p_filesz - start)
            return true;
    }
    return false;
}

std::size_t buildIdIn(const unsigned char* notes, std::size_t size, std::size_t alignment,
                      const unsigned char** identity)
{
    std::size_t offset = 0;
    while (offset + sizeof(ElfW(Nhdr)) <= size) {
        ElfW(Nhdr) note;
        std::memcpy(&note, notes + offset, sizeof note);
        // As glibc and readelf lay notes out: the descriptor at the aligned
        // end of header and name, which for 8-aligned notes is not the header
        // plus the aligned name. Both sizes are 32 bits, so nothing wraps.
        std::size_t name = offset + sizeof note;
        std::size_t description = alignUp(name + note.n_namesz, alignment);
        // The last note's padding may lie past the segment's end.
        std::size_t end = description + note.n_descsz;
        if (description > size || end > size)
            return 0;
        if (note.n_type == NT_GNU_BUILD_ID && note.n_namesz == 4 && std::memcmp(notes + name, "GNU", 4) == 0 &&
            note.n_descsz > 0) {
            *identity = notes + description;
            return note.n_descsz;
        }
        offset = alignUp(end, alignment);
    }
    return 0;
}

} // namespace

std::size_t imageIdentity(const void* loadAddress, const unsigned char** identity)
{
    auto* image = static_cast<const unsigned char*>(loadAddress);
    if (!image)
        return 0;
    ElfW(Ehdr) header;
    std::memcpy(&header, image, sizeof header);
    // Bounds compared without a sum, which an offset near 2^64 would wrap.
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_phentsize != sizeof(ElfW(Phdr)) ||
        header.e_phoff > firstPage || std::size_t(header.e_phnum) * sizeof(ElfW(Phdr)) > firstPage - header.e_phoff)
        return 0;
    auto* segments = reinterpret_cast<const ElfW(Phdr)*>(image + header.e_phoff);
    int count = header.e_phnum;

    // The segment that maps the file's start lies at the load address.
    const ElfW(Phdr)* first = nullptr;
    for (int i = 0; i < count && !first; ++i)
        if (segments[i].p_type == PT_LOAD)
            first = &segments[i];
    if (!first || first->p_offset != 0)
        return 0;
    const unsigned char* bias = image - first->p_vaddr;

    for (int i = 0; i < count; ++i) {
        const ElfW(Phdr)& notes = segments[i];
        if (notes.p_type != PT_NOTE || !isMapped(segments, count, notes.p_vaddr, notes.p_filesz))
            continue;
        std::size_t alignment = notes.p_align == 8 ? 8 : 4;
        if (std::size_t length = buildIdIn(bias + notes.p_vaddr, notes.p_filesz, alignment, identity))
            return length;
    }
    return 0;
}
