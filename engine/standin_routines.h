#pragma once

// The bodies of the engine's three internal routines; engine_entries.cpp
// places the routines themselves where the launcher expects them.

struct EngineRecord;

#define STANDIN_HIDDEN __attribute__((visibility("hidden")))

extern "C" {
STANDIN_HIDDEN void standinPrepare();
STANDIN_HIDDEN bool standinSetDataFolders(const EngineRecord* data, const EngineRecord* contents);
STANDIN_HIDDEN void standinUserDataFolder(EngineRecord* out);
}
