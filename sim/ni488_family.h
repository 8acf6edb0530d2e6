// The descriptor and board logic of the NI-488 family of GPIB libraries over
// the simulated bus: ibfind, ibdev and the eight calls on a descriptor, each
// ending in the status word, its trace line and the status file. A library of
// the family (the NI-488.2 stand-in, the test's linux-gpib) declares its own
// interface and hands the core what differs in a dialect record: its status
// bits, error codes and their names, timeout codes, where it keeps the status
// values, its ibconfig options and how its writes carry END.
#ifndef VANDREL_SIM_NI488_FAMILY_H
#define VANDREL_SIM_NI488_FAMILY_H

#include "sim/sim.h"

namespace sim {

// Board descriptors are the board indices; device descriptors follow them.
enum { kNiBoardCount = 32, kNiFirstDeviceDescriptor = kNiBoardCount, kNiDeviceDescriptorCount = 1024 };
enum { kNiDescriptorLimit = kNiFirstDeviceDescriptor + kNiDeviceDescriptorCount };
enum { kNiBoardTimeoutCode = 13 };  // 10 s, the boards' usual setting
enum { kNiNoOption = -1 };          // an ibconfig option the library lacks

struct NiDialect {
    const char *libraryFile;  // for the status file, e.g. "gpib-32.dll"
    const char *findEntry;    // the name ibfind is traced under
    // Status word bits.
    int errBit, timeoutBit, endBit, completeBit;
    // Error codes: a bad descriptor, a bad argument, no listener, aborted, no board.
    int noDescriptor, badArgument, noListener, aborted, noBoard;
    const char *const *errorNames;  // by error code
    // kTimeoutMicroseconds[code]; code 0 waits for ever, which the simulator
    // ends at the longest finite wait, the table's last.
    const long long *timeoutMicroseconds;
    int timeoutCodeCount;
    // Sets the library's status values: the status word always, the error
    // and the count only when not null (a call that does not fail, or does
    // not count, leaves them as they were).
    void (*storeStatus)(int status, const int *error, const long *count);
    int swapOption;  // ibconfig option that swaps the bytes of each pair written
    int endOption;   // ibconfig option that sets END on writes (as ibeot does)
    // Linux-gpib's writes: END only with a byte to carry it, and a write that
    // carried it is traced with " END" after its status.
    bool endNeedsData;
};

struct NiDescriptor {
    bool open;
    bool board;
    int boardIndex;
    int address;
    int timeoutCode;
    bool eot;
    int eos;
    bool swapBytes;
    // What ibonl(ud, 1) returns the descriptor to.
    int initialTimeoutCode;
    bool initialEot;
    int initialEos;
};

struct NiLibrary {
    const NiDialect *dialect;
    SimBus bus;
    NiDescriptor descriptors[kNiDescriptorLimit];
};

// Reads the bus and counts the load, as the library loads; counts the
// unload and the descriptors left open, as it unloads.
void niLoad(NiLibrary &library);
void niUnload(NiLibrary &library);

// The calls; each returns what the library's entry returns.
int niFind(NiLibrary &library, const char *name);
int niDev(NiLibrary &library, int board, int pad, int sad, int tmo, int eot, int eos);
int niOnl(NiLibrary &library, int ud, int v);
int niClr(NiLibrary &library, int ud);
int niLoc(NiLibrary &library, int ud);
int niTmo(NiLibrary &library, int ud, int v);
int niEot(NiLibrary &library, int ud, int v);
int niConfig(NiLibrary &library, int ud, int option, int value);
int niWrt(NiLibrary &library, int ud, const void *buf, long count);
int niRd(NiLibrary &library, int ud, void *buf, long count);

}  // namespace sim

#endif
