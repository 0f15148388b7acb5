#pragma once
// As in the SDK's <mach-o/loader.h>: the 64-bit header, load commands and
// LC_UUID.
#include <stdint.h>

typedef int cpu_type_t;
typedef int cpu_subtype_t;

struct mach_header_64 {
    uint32_t magic;
    cpu_type_t cputype;
    cpu_subtype_t cpusubtype;
    uint32_t filetype;
    uint32_t ncmds;
    uint32_t sizeofcmds;
    uint32_t flags;
    uint32_t reserved;
};
#define MH_MAGIC_64 0xfeedfacf

struct load_command {
    uint32_t cmd;
    uint32_t cmdsize;
};

#define LC_UUID 0x1b
struct uuid_command {
    uint32_t cmd;
    uint32_t cmdsize;
    uint8_t uuid[16];
};
