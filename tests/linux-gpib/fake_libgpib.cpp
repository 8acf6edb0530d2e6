// libgpib.so.0 for the tests: linux-gpib's C interface as its manual gives
// it, over the NI-488 family's calls on the simulated bus. It keeps the
// library's ways that an NI-488.2 caller must be adapted to: ibfind has no
// "A" suffix, ibconfig knows no byte swapping (option 20), and the status
// lives in the globals ibsta, iberr, ibcnt and ibcntl and, unless built with
// FAKE_GLOBALS_ONLY, in the thread's own values behind ThreadIbsta() and its
// three siblings.
// Calls are traced under linux-gpib's names; a write that carried END is
// traced with " END" after its status.
#include "sim/ni488_family.h"

#define LIBGPIB_EXPORT extern "C" __attribute__((visibility("default")))

// ---- linux-gpib's interface ----------------------------------------------------

LIBGPIB_EXPORT int ibsta;
LIBGPIB_EXPORT int iberr;
LIBGPIB_EXPORT int ibcnt;
LIBGPIB_EXPORT long ibcntl;
int ibsta = 0;
int iberr = 0;
int ibcnt = 0;
long ibcntl = 0;

LIBGPIB_EXPORT int ibfind(const char *name);
LIBGPIB_EXPORT int ibdev(int minor, int pad, int sad, int timo, int send_eoi, int eosmode);
LIBGPIB_EXPORT int ibwrt(int ud, const void *buf, long count);
LIBGPIB_EXPORT int ibrd(int ud, void *buf, long count);
LIBGPIB_EXPORT int ibonl(int ud, int onl);
LIBGPIB_EXPORT int ibloc(int ud);
LIBGPIB_EXPORT int ibclr(int ud);
LIBGPIB_EXPORT int ibtmo(int ud, int v);
LIBGPIB_EXPORT int ibeot(int ud, int v);
LIBGPIB_EXPORT int ibconfig(int ud, int option, int value);
#if !defined(FAKE_GLOBALS_ONLY)
LIBGPIB_EXPORT int ThreadIbsta(void);
LIBGPIB_EXPORT int ThreadIberr(void);
LIBGPIB_EXPORT int ThreadIbcnt(void);
LIBGPIB_EXPORT long ThreadIbcntl(void);
#endif

namespace {

// Status bits and error codes, NI-488's layout, which linux-gpib keeps.
enum { kErr = 0x8000, kTimo = 0x4000, kEnd = 0x2000, kCmpl = 0x0100 };
enum { kEDVR = 0, kECIC = 1, kENOL = 2, kEADR = 3, kEARG = 4, kESAC = 5, kEABO = 6, kENEB = 7 };
const char *const kErrorNames[] = {"EDVR", "ECIC", "ENOL", "EADR", "EARG", "ESAC", "EABO", "ENEB"};
// The ibconfig option that sets END on writes (as ibeot does).
enum { kIbcEOT = 0x04 };
// The timeout codes TNONE, T10us ... T1000s: the wait in microseconds.
const long long kTimeoutMicroseconds[] = {
    0, 10, 30, 100, 300, 1000, 3000, 10000, 30000, 100000, 300000,
    1000000, 3000000, 10000000, 30000000, 100000000, 300000000, 1000000000,
};
const int kTimeoutCodeCount = static_cast<int>(sizeof kTimeoutMicroseconds / sizeof kTimeoutMicroseconds[0]);
const char kLibraryFile[] = "libgpib.so.0";

thread_local int threadStatus = 0;
thread_local int threadError = 0;
thread_local long threadCount = 0;

// Both places linux-gpib keeps its status: the globals and the thread's own.
void storeStatus(int status, const int *error, const long *count) {
    if (error != nullptr) iberr = threadError = *error;
    ibsta = threadStatus = status;
    if (count != nullptr) {
        ibcntl = threadCount = *count;
        ibcnt = static_cast<int>(*count);
    }
}

// END control is the one option modelled; byte swapping (20) is not a
// linux-gpib option and is refused like any other it does not know.
const sim::NiDialect kDialect = {
    kLibraryFile, "ibfind",
    kErr, kTimo, kEnd, kCmpl,
    kEDVR, kEARG, kENOL, kEABO, kENEB, kErrorNames,
    kTimeoutMicroseconds, kTimeoutCodeCount,
    storeStatus,
    sim::kNiNoOption, kIbcEOT,
    true,
};

sim::NiLibrary library = {&kDialect, {}, {}};

struct Lifetime {
    Lifetime() { sim::niLoad(library); }
    ~Lifetime() { sim::niUnload(library); }
};
Lifetime lifetime;

}  // namespace

// A board by its name in the configuration: here, an interface "gpibN" of the bus.
int ibfind(const char *name) { return sim::niFind(library, name); }
int ibdev(int minor, int pad, int sad, int timo, int send_eoi, int eosmode) {
    return sim::niDev(library, minor, pad, sad, timo, send_eoi, eosmode);
}
int ibonl(int ud, int onl) { return sim::niOnl(library, ud, onl); }
int ibclr(int ud) { return sim::niClr(library, ud); }
int ibloc(int ud) { return sim::niLoc(library, ud); }
int ibtmo(int ud, int v) { return sim::niTmo(library, ud, v); }
int ibeot(int ud, int v) { return sim::niEot(library, ud, v); }
int ibconfig(int ud, int option, int value) { return sim::niConfig(library, ud, option, value); }
int ibwrt(int ud, const void *buf, long count) { return sim::niWrt(library, ud, buf, count); }
int ibrd(int ud, void *buf, long count) { return sim::niRd(library, ud, buf, count); }

#if !defined(FAKE_GLOBALS_ONLY)
int ThreadIbsta(void) { return threadStatus; }
int ThreadIberr(void) { return threadError; }
int ThreadIbcnt(void) { return static_cast<int>(threadCount); }
long ThreadIbcntl(void) { return threadCount; }
#endif
