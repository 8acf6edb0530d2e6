// gpib-32.dll for Linux: the NI-488.2 driver's exports over linux-gpib's
// libgpib.so.0, loaded by name on first use. Each entry makes sure the
// library is there, forwards the call, and copies linux-gpib's status into
// the driver's status exports; byte swapping on writes, which linux-gpib
// lacks, is done here. Like the NI-488.2 driver's own status values, the
// state is process-wide and unguarded: its caller uses one thread.
#include <dlfcn.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "adapters/linux-gpib/swap_write.h"
#include "gpib/driver_abi.h"  // the notice text only

#define ADAPTER_EXPORT extern "C" __attribute__((visibility("default")))

// ---- the NI-488.2 values this driver deals in ------------------------------

namespace {

enum { kCmpl = 0x0100 };                                  // status word: call complete
enum { kEDVR = 0 };                                       // iberr: system error, bad descriptor
enum { kOptionEndOfTransfer = 0x04, kOptionSwapBytes = 20 };  // ibconfig options

const char kLibraryName[] = "libgpib.so.0";
const char kDriverName[] = "gpib-32.dll";

}  // namespace

ADAPTER_EXPORT int user_ibsta;
ADAPTER_EXPORT int user_iberr;
ADAPTER_EXPORT long user_ibcntl;
ADAPTER_EXPORT char CopyrightString[sizeof kNi488Notice];
int user_ibsta = 0;
int user_iberr = 0;
long user_ibcntl = 0;
char CopyrightString[sizeof kNi488Notice] = {};

namespace {

// The notice is filled in when the library loads, before any caller can look.
struct NoticeInitializer {
    NoticeInitializer() { std::memcpy(CopyrightString, kNi488Notice, sizeof kNi488Notice); }
};
NoticeInitializer noticeInitializer;

// ---- linux-gpib, bound by name ---------------------------------------------
//
// X(result, name, parameters) for each function this driver forwards to.
// linux-gpib takes NI-488's arguments and codes and returns the status word
// (a descriptor from ibfind and ibdev); its ibfind has no "A" suffix.
#define LINUX_GPIB_FUNCTIONS(X)                                              \
    X(int, ibfind, (const char *name))                                       \
    X(int, ibdev, (int minor, int pad, int sad, int timo, int sendEoi, int eos)) \
    X(int, ibwrt, (int ud, const void *buf, long count))                     \
    X(int, ibrd, (int ud, void *buf, long count))                            \
    X(int, ibonl, (int ud, int online))                                      \
    X(int, ibloc, (int ud))                                                  \
    X(int, ibclr, (int ud))                                                  \
    X(int, ibtmo, (int ud, int v))                                           \
    X(int, ibeot, (int ud, int v))                                           \
    X(int, ibconfig, (int ud, int option, int value))

struct LinuxGpib {
    void *handle;
#define LINUX_GPIB_SLOT(result, name, parameters) result(*name) parameters;
    LINUX_GPIB_FUNCTIONS(LINUX_GPIB_SLOT)
#undef LINUX_GPIB_SLOT
    // The status globals; ibcntl is missing from older releases.
    const int *ibsta;
    const int *iberr;
    const int *ibcnt;
    const long *ibcntl;
    // The thread-local accessors, where the release has them.
    int (*threadIbsta)();
    int (*threadIberr)();
    int (*threadIbcnt)();
    long (*threadIbcntl)();
};

LinuxGpib gpib;
bool problemReported = false;
long loadError = 0;  // the system's error code from the last failed load

template <typename Pointer>
Pointer bind(void *handle, const char *name) {
    return reinterpret_cast<Pointer>(dlsym(handle, name));
}

// Whether a problem with the library is the first: one line on stderr is
// printed for the first only; the calls themselves report through the
// status exports, as a driver does.
bool firstProblem() {
    if (problemReported) return false;
    problemReported = true;
    return true;
}

// Loads and binds libgpib.so.0 through the system's library search. A
// library lacking any function or status global is released again. Until
// it loads, every call tries again, so that a library installed while the
// host runs is found.
bool loadLibrary() {
    errno = 0;
    void *handle = dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        loadError = errno != 0 ? errno : ENOENT;
        const char *detail = dlerror();
        if (firstProblem())
            std::fprintf(stderr, "%s: cannot load %s: %s\n", kDriverName, kLibraryName,
                         detail != nullptr ? detail : "not found");
        return false;
    }
    LinuxGpib bound = {};
    bound.handle = handle;
    const char *missing = nullptr;
#define LINUX_GPIB_BIND(result, name, parameters)                                      \
    bound.name = bind<result(*) parameters>(handle, #name);                            \
    if (bound.name == nullptr && missing == nullptr) missing = #name;
    LINUX_GPIB_FUNCTIONS(LINUX_GPIB_BIND)
#undef LINUX_GPIB_BIND
    bound.ibsta = bind<const int *>(handle, "ibsta");
    bound.iberr = bind<const int *>(handle, "iberr");
    bound.ibcnt = bind<const int *>(handle, "ibcnt");
    bound.ibcntl = bind<const long *>(handle, "ibcntl");
    if (missing == nullptr && bound.ibsta == nullptr) missing = "ibsta";
    if (missing == nullptr && bound.iberr == nullptr) missing = "iberr";
    if (missing == nullptr && bound.ibcnt == nullptr && bound.ibcntl == nullptr) missing = "ibcnt";
    if (missing != nullptr) {
        dlclose(handle);
        loadError = ENOENT;
        if (firstProblem()) std::fprintf(stderr, "%s: %s lacks %s\n", kDriverName, kLibraryName, missing);
        return false;
    }
    bound.threadIbsta = bind<int (*)()>(handle, "ThreadIbsta");
    bound.threadIberr = bind<int (*)()>(handle, "ThreadIberr");
    bound.threadIbcnt = bind<int (*)()>(handle, "ThreadIbcnt");
    bound.threadIbcntl = bind<long (*)()>(handle, "ThreadIbcntl");
    gpib = bound;
    return true;
}

// Whether linux-gpib is there; when it is not, the status exports say so:
// the error bit, EDVR, and the system's error code as the count.
bool ready() {
    if (gpib.handle != nullptr || loadLibrary()) return true;
    user_ibsta = adapter::kStatusErr;
    user_iberr = kEDVR;
    user_ibcntl = loadError;
    return false;
}

// linux-gpib's status after its last call, from the thread's own values
// where the library offers them.
adapter::PieceResult libraryStatus() {
    adapter::PieceResult status;
    status.status = gpib.threadIbsta != nullptr ? gpib.threadIbsta() : *gpib.ibsta;
    status.error = gpib.threadIberr != nullptr ? gpib.threadIberr() : *gpib.iberr;
    if (gpib.threadIbcntl != nullptr) status.count = gpib.threadIbcntl();
    else if (gpib.ibcntl != nullptr) status.count = *gpib.ibcntl;
    else if (gpib.threadIbcnt != nullptr) status.count = gpib.threadIbcnt();
    else status.count = *gpib.ibcnt;
    return status;
}

void publish(const adapter::PieceResult &status) {
    user_ibsta = status.status;
    user_iberr = status.error;
    user_ibcntl = status.count;
}

// ---- what this driver keeps per descriptor ----------------------------------
//
// linux-gpib knows END; byte swapping is this driver's alone. END is tracked
// because a swapped write in several pieces turns it off for all but the
// last piece.
enum { kDescriptorLimit = 4096 };

struct Descriptor {
    bool open;
    bool swapBytes;
    bool end;         // END with the last byte of a write, as the caller set it
    bool initialEnd;  // what ibonl(ud, 1) returns it to
    bool libraryEnd;  // what linux-gpib was last told
};

Descriptor descriptors[kDescriptorLimit];

Descriptor *descriptor(int ud) {
    if (ud < 0 || ud >= kDescriptorLimit || !descriptors[ud].open) return nullptr;
    return &descriptors[ud];
}

void opened(int ud, bool end) {
    if (ud < 0 || ud >= kDescriptorLimit) return;
    descriptors[ud] = Descriptor{true, false, end, end, end};
}

void endSet(int ud, int status, bool end) {
    Descriptor *d = descriptor(ud);
    if (d == nullptr || (status & adapter::kStatusErr) != 0) return;
    d->end = d->libraryEnd = end;
}

// The one shape of the forwarded entries: make sure of the library, call,
// copy the status. Without the library the descriptor calls return -1, the
// others the failed status word.
enum Unavailable { kReturnStatus, kReturnNoDescriptor };

template <typename Slot, typename... Args>
int forward(Slot LinuxGpib::*slot, Unavailable unavailable, Args... args) {
    if (!ready()) return unavailable == kReturnNoDescriptor ? -1 : user_ibsta;
    int result = (gpib.*slot)(args...);
    publish(libraryStatus());
    return result;
}

// ---- the swapped write --------------------------------------------------------

unsigned char swapBuffer[adapter::kSwapBufferBytes];

struct SwappedWrite {
    int ud;
    Descriptor *descriptor;
};

// One piece: END set on linux-gpib as the piece needs it, then the write.
adapter::PieceResult sendPiece(void *context, const unsigned char *bytes, long count, bool end) {
    SwappedWrite &write = *static_cast<SwappedWrite *>(context);
    if (write.descriptor->libraryEnd != end) {
        gpib.ibeot(write.ud, end ? 1 : 0);
        adapter::PieceResult set = libraryStatus();
        if ((set.status & adapter::kStatusErr) != 0) {
            set.count = 0;
            return set;
        }
        write.descriptor->libraryEnd = end;
    }
    gpib.ibwrt(write.ud, bytes, count);
    return libraryStatus();
}

int writeSwapped(int ud, Descriptor &d, const void *buf, long count) {
    SwappedWrite write = {ud, &d};
    adapter::PieceResult result =
        adapter::writeSwapped(buf, count, d.end, swapBuffer, sizeof swapBuffer, sendPiece, &write);
    // END goes back to the caller's setting, also after a failed piece; the
    // status and count reported are the write's.
    if (d.libraryEnd != d.end) {
        gpib.ibeot(ud, d.end ? 1 : 0);
        if ((libraryStatus().status & adapter::kStatusErr) == 0) d.libraryEnd = d.end;
    }
    publish(result);
    return result.status;
}

}  // namespace

// ---- the exports ----------------------------------------------------------------

ADAPTER_EXPORT int ibfindA(const char *name) {
    int ud = forward(&LinuxGpib::ibfind, kReturnNoDescriptor, name);
    // A board sends END unless its configuration says otherwise.
    if (ud >= 0) opened(ud, true);
    return ud;
}

ADAPTER_EXPORT int ibdev(int board, int pad, int sad, int tmo, int eot, int eos) {
    int ud = forward(&LinuxGpib::ibdev, kReturnNoDescriptor, board, pad, sad, tmo, eot, eos);
    if (ud >= 0) opened(ud, eot != 0);
    return ud;
}

ADAPTER_EXPORT int ibonl(int ud, int v) {
    int status = forward(&LinuxGpib::ibonl, kReturnStatus, ud, v);
    Descriptor *d = descriptor(ud);
    if (d != nullptr && (status & adapter::kStatusErr) == 0) {
        if (v == 0) {
            d->open = false;
        } else {
            d->swapBytes = false;
            d->end = d->libraryEnd = d->initialEnd;
        }
    }
    return status;
}

ADAPTER_EXPORT int ibclr(int ud) { return forward(&LinuxGpib::ibclr, kReturnStatus, ud); }

ADAPTER_EXPORT int ibloc(int ud) { return forward(&LinuxGpib::ibloc, kReturnStatus, ud); }

ADAPTER_EXPORT int ibtmo(int ud, int v) { return forward(&LinuxGpib::ibtmo, kReturnStatus, ud, v); }

ADAPTER_EXPORT int ibrd(int ud, void *buf, long count) {
    return forward(&LinuxGpib::ibrd, kReturnStatus, ud, buf, count);
}

ADAPTER_EXPORT int ibeot(int ud, int v) {
    int status = forward(&LinuxGpib::ibeot, kReturnStatus, ud, v);
    endSet(ud, status, v != 0);
    return status;
}

ADAPTER_EXPORT int ibconfig(int ud, int option, int value) {
    if (!ready()) return user_ibsta;
    if (option != kOptionSwapBytes) {
        int status = forward(&LinuxGpib::ibconfig, kReturnStatus, ud, option, value);
        if (option == kOptionEndOfTransfer) endSet(ud, status, value != 0);
        return status;
    }
    // Byte swapping is this driver's own. As with NI-488.2, iberr then holds
    // the previous setting; the count is left as it was.
    Descriptor *d = descriptor(ud);
    if (d == nullptr) {
        user_ibsta = adapter::kStatusErr | kCmpl;
        user_iberr = kEDVR;
        return user_ibsta;
    }
    user_iberr = d->swapBytes ? 1 : 0;
    d->swapBytes = value != 0;
    user_ibsta = kCmpl;
    return user_ibsta;
}

ADAPTER_EXPORT int ibwrt(int ud, const void *buf, long count) {
    if (!ready()) return user_ibsta;
    Descriptor *d = descriptor(ud);
    // Without swapping, and for what linux-gpib refuses itself (a negative
    // count, no buffer), the write is linux-gpib's own, with no copy.
    if (d == nullptr || !d->swapBytes || count < 0 || (buf == nullptr && count > 0))
        return forward(&LinuxGpib::ibwrt, kReturnStatus, ud, buf, count);
    return writeSwapped(ud, *d, buf, count);
}
