// Binds the SICL library's entry points by name into the download's table.
#include "gpib/sicl.h"

const char *bindSiclEntryPoints(platform::ModuleHandle library, SiclEntryPoints *table) {
    const char *firstMissing = nullptr;
    // Every entry is looked up, in the table's order, even after one is found
    // missing, so the table is always filled as far as the library allows.
#define SICL_BIND_SLOT(name)                                                                   \
    table->name = reinterpret_cast<Sicl_##name *>(platform::GetProcAddress(library, #name));  \
    if (table->name == nullptr && firstMissing == nullptr) firstMissing = #name;
    SICL_ENTRIES(SICL_BIND_SLOT)
#undef SICL_BIND_SLOT
    return firstMissing;
}
