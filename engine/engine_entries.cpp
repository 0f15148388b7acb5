// The engine's three internal routines, at the fixed offsets from the load
// address that the launcher targets (ENGINE_ROUTINES), and not exported by
// name.

#include "engine_routine_offsets.h"
#include "standin_routines.h"

#ifdef __APPLE__

// Mach-O linkers place sections only in order, Apple's from __TEXT's end and
// LLVM's from its start: the build links until the routines (five-byte jumps
// to their bodies) sit on their offsets, padding before them or after them.
#ifndef ENGINE_ENTRY_PADDING
#define ENGINE_ENTRY_PADDING 0
#endif
#ifndef ENGINE_ENTRY_TAIL
#define ENGINE_ENTRY_TAIL 0
#endif
#define STANDIN_TEXT_OF(value) #value
#define STANDIN_TEXT(value) STANDIN_TEXT_OF(value)

asm(".section __TEXT,__engine_entries,regular,pure_instructions\n"
    ".p2align 4\n"
    ".private_extern _engineEntriesStart\n"
    "_engineEntriesStart:\n"
    ".space " STANDIN_TEXT(ENGINE_ENTRY_PADDING) ", 0xcc\n"
    ".private_extern _engineUserDataFolder\n"
    "_engineUserDataFolder:\n"
    "    jmp _standinUserDataFolder\n"
    ".space " STANDIN_TEXT(ENGINE_SET_DATA_FOLDERS_OFFSET) " - " STANDIN_TEXT(ENGINE_USER_DATA_FOLDER_OFFSET) " - 5, 0xcc\n"
    ".private_extern _engineSetDataFolders\n"
    "_engineSetDataFolders:\n"
    "    jmp _standinSetDataFolders\n"
    ".space " STANDIN_TEXT(ENGINE_PREPARE_OFFSET) " - " STANDIN_TEXT(ENGINE_SET_DATA_FOLDERS_OFFSET) " - 5, 0xcc\n"
    ".private_extern _enginePrepare\n"
    "_enginePrepare:\n"
    "    jmp _standinPrepare\n"
    ".space " STANDIN_TEXT(ENGINE_ENTRY_TAIL) ", 0xcc\n"
    ".text\n");

#else

// GNU ld places each routine's section at its offset (--section-start).
#define ENGINE_INTERNAL(sectionName) \
    extern "C" __attribute__((section(sectionName), used, noinline, visibility("hidden")))

ENGINE_INTERNAL(".engine_prepare") void enginePrepare()
{
    standinPrepare();
}

ENGINE_INTERNAL(".engine_set_data_folders") bool engineSetDataFolders(const EngineRecord* data,
                                                                       const EngineRecord* contents)
{
    return standinSetDataFolders(data, contents);
}

ENGINE_INTERNAL(".engine_user_data_folder") void engineUserDataFolder(EngineRecord* out)
{
    standinUserDataFolder(out);
}

#endif
