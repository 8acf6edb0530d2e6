// The NI-488.2 language interface: the ten driver functions as the download
// calls them. The driver library is loaded, identified and bound on first use
// and stays loaded with the module.
#ifndef VANDREL_GPIB_NI488_H
#define VANDREL_GPIB_NI488_H

#include "gpib/driver_abi.h"

namespace ni488 {

// Status after the last call: the driver's own values after a forwarded
// call, or the error bit with the system's last error code after a failure
// to load or bind.
extern int ibsta;
extern int iberr;
extern int ibcnt;
extern long ibcntl;

#define NI488_DECLARE_WRAPPER(result, name, params, args) result name params;
NI488_FUNCTION_ENTRIES(NI488_DECLARE_WRAPPER)
#undef NI488_DECLARE_WRAPPER

// The driver's function of that name, loading and checking the driver first
// if it is not loaded yet; null (with the failure status set) otherwise.
void *resolveGpibEntry(const char *name);

// Whether GPIB-32.DLL is loaded and was accepted as the expected driver.
bool driverIsLoaded();
// Whether the accepted driver exports the function of that name; false when
// no driver is loaded. Looks the name up without changing the status.
bool driverHasEntry(const char *name);

// Forgets the driver and the status as if the module had just been loaded,
// releasing a loaded driver. The module never calls it; unit tests do,
// between cases.
void resetLanguageInterface();

}  // namespace ni488

#endif
