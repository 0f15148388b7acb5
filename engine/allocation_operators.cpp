// The engine's global allocation operators, which the executable binds in
// place of the C++ runtime's, on the C allocator. Each that it serves for the
// executable appends 'n' or 'd' to the file STANDIN_ENGINE_ALLOCATIONS names.

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __APPLE__
#include <mach-o/dyld.h>
#else
#include <link.h>
#endif

#define ENGINE_EXPORT __attribute__((visibility("default")))

namespace {

// Set up by the engine's initialiser. Until then (the C++ runtime's own
// initialisers allocate first) the operators serve without counting.
int journal = -1;
const void* executableBase = nullptr;

#ifndef __APPLE__
int firstObjectBase(dl_phdr_info* info, std::size_t, void* base)
{
    // The first object is the executable; its image starts at its first segment.
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        if (info->dlpi_phdr[i].p_type == PT_LOAD) {
            *static_cast<const void**>(base) =
                reinterpret_cast<const void*>(info->dlpi_addr + info->dlpi_phdr[i].p_vaddr);
            break;
        }
    }
    return 1;
}
#endif

__attribute__((constructor)) void openJournal()
{
    const char* path = std::getenv("STANDIN_ENGINE_ALLOCATIONS");
    if (!path || !*path)
        return;
#ifdef __APPLE__
    executableBase = _dyld_get_image_header(0);
#else
    dl_iterate_phdr(firstObjectBase, &executableBase);
#endif
    // Never blocking (a FIFO without a reader is skipped), only a plain file,
    // and never on a closed standard stream, which the executable fills
    // later and whose output would land here.
    int opened = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK, 0644);
    struct stat info {};
    if (opened >= 0 && fstat(opened, &info) == 0 && S_ISREG(info.st_mode))
        journal = fcntl(opened, F_DUPFD_CLOEXEC, 3);
    if (opened >= 0)
        close(opened);
}

void note(char event, const void* caller)
{
    if (journal < 0)
        return;
    Dl_info info {};
    if (dladdr(caller, &info) != 0 && info.dli_fbase == executableBase)
        (void)!write(journal, &event, 1);
}

void* allocate(std::size_t size, std::size_t alignment = 0)
{
    if (size == 0)
        size = 1;
    for (;;) {
        void* block = nullptr;
        if (alignment <= alignof(std::max_align_t))
            block = std::malloc(size);
        else if (posix_memalign(&block, alignment, size) != 0)
            block = nullptr;
        // Never zeroed, as a debugging allocator leaves blocks: a caller that
        // reads what it never wrote fails here rather than by luck elsewhere.
        if (block) {
            std::memset(block, 0xA5, size);
            return block;
        }
        std::new_handler handler = std::get_new_handler();
        if (!handler)
            throw std::bad_alloc();
        handler();
    }
}

void* allocateOrNull(std::size_t size, std::size_t alignment = 0) noexcept
{
    try {
        return allocate(size, alignment);
    } catch (...) {
        return nullptr;
    }
}

} // namespace

#define CALLER __builtin_return_address(0)

#define ALLOCATE(signature, result)          \
    ENGINE_EXPORT void* operator signature \
    {                                      \
        note('n', CALLER);                 \
        return result;                     \
    }

ALLOCATE(new(std::size_t size), allocate(size))
ALLOCATE(new[](std::size_t size), allocate(size))
ALLOCATE(new(std::size_t size, const std::nothrow_t&) noexcept, allocateOrNull(size))
ALLOCATE(new[](std::size_t size, const std::nothrow_t&) noexcept, allocateOrNull(size))
ALLOCATE(new(std::size_t size, std::align_val_t alignment), allocate(size, std::size_t(alignment)))
ALLOCATE(new[](std::size_t size, std::align_val_t alignment), allocate(size, std::size_t(alignment)))
ALLOCATE(new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept,
         allocateOrNull(size, std::size_t(alignment)))
ALLOCATE(new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept,
         allocateOrNull(size, std::size_t(alignment)))

// Every form of release frees: each block came from malloc or posix_memalign.
#define RELEASE(...)                                 \
    ENGINE_EXPORT void operator __VA_ARGS__ noexcept \
    {                                                \
        if (block)                                   \
            note('d', CALLER);                       \
        std::free(block);                            \
    }

RELEASE(delete(void* block))
RELEASE(delete[](void* block))
RELEASE(delete(void* block, std::size_t))
RELEASE(delete[](void* block, std::size_t))
RELEASE(delete(void* block, const std::nothrow_t&))
RELEASE(delete[](void* block, const std::nothrow_t&))
RELEASE(delete(void* block, std::align_val_t))
RELEASE(delete[](void* block, std::align_val_t))
RELEASE(delete(void* block, std::size_t, std::align_val_t))
RELEASE(delete[](void* block, std::size_t, std::align_val_t))
RELEASE(delete(void* block, std::align_val_t, const std::nothrow_t&))
RELEASE(delete[](void* block, std::align_val_t, const std::nothrow_t&))
