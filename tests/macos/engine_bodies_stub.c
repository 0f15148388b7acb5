/* The routines' bodies, for linking the Mach-O placement alone: the rest of
   the stand-in needs a macOS SDK to compile. */
typedef struct EngineRecord EngineRecord;
void standinPrepare(void) {}
_Bool standinSetDataFolders(const EngineRecord* data, const EngineRecord* contents)
{
    return data && contents;
}
void standinUserDataFolder(EngineRecord* out)
{
    (void)out;
}
