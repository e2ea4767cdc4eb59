#include "FileVersion.h"

// The executable's own version, found on disk by ReadFileVersion. Kept in a
// section of its own and marked used so that neither compiler nor linker drops
// it although no code refers to it.
#define NETVANE_LE16(v) (unsigned char)((v) & 0xFF), (unsigned char)(((v) >> 8) & 0xFF)

extern const FileVersionRecord g_netvaneFileVersion;
__attribute__((section(".netvane_version"), used)) const FileVersionRecord g_netvaneFileVersion = {
    "NETVANE:FILEVER",
    {NETVANE_LE16(NETVANE_VERSION_MAJOR), NETVANE_LE16(NETVANE_VERSION_MINOR), NETVANE_LE16(NETVANE_VERSION_PATCH),
     NETVANE_LE16(NETVANE_VERSION_TWEAK)},
};
