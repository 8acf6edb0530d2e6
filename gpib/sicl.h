// The SICL library's entry points as the download binds them by name.
#ifndef VANDREL_GPIB_SICL_H
#define VANDREL_GPIB_SICL_H

#include "gpib/driver_abi.h"
#include "platform/platform.h"

struct SiclEntryPoints {
#define SICL_DECLARE_SLOT(name) Sicl_##name *name;
    SICL_ENTRIES(SICL_DECLARE_SLOT)
#undef SICL_DECLARE_SLOT
};

// Fills every entry of the table from the library, by name and in the
// table's order. Returns the name of the first entry the library lacks, or
// null when all eight were found.
const char *bindSiclEntryPoints(platform::ModuleHandle library, SiclEntryPoints *table);

#endif
