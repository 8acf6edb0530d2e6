// libgpib.so.0 for the tests: linux-gpib's C interface as its manual gives
// it, over the simulated bus. It keeps the library's ways that an NI-488.2
// caller must be adapted to: ibfind has no "A" suffix, ibconfig knows no
// byte swapping (option 20), and the status lives in the globals ibsta,
// iberr, ibcnt and ibcntl and, unless built with FAKE_GLOBALS_ONLY, in the
// thread's own values behind ThreadIbsta() and its three siblings.
// Calls are traced under linux-gpib's names; a write that carried END is
// traced with " END" after its status.
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include "sim/sim.h"

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
const int kNoError = -1;
// The ibconfig option that sets END on writes (as ibeot does).
enum { kIbcEOT = 0x04 };
// The timeout codes TNONE, T10us ... T1000s: the wait in microseconds.
const long long kTimeoutMicroseconds[] = {
    0, 10, 30, 100, 300, 1000, 3000, 10000, 30000, 100000, 300000,
    1000000, 3000000, 10000000, 30000000, 100000000, 300000000, 1000000000,
};
const int kTimeoutCodeCount = static_cast<int>(sizeof kTimeoutMicroseconds / sizeof kTimeoutMicroseconds[0]);
const char kLibraryFile[] = "libgpib.so.0";

// Board descriptors are the board indices; device descriptors follow.
enum { kBoardCount = 32, kFirstDeviceDescriptor = kBoardCount, kDescriptorLimit = kBoardCount + 1024 };
enum { kBoardTimeoutCode = 13 };
const char kBoardPrefix[] = "gpib";

struct Descriptor {
    bool open;
    bool board;
    int boardIndex;
    int address;
    int timeoutCode;
    bool eot;
    int initialTimeoutCode;
    bool initialEot;
};

struct Library {
    sim::SimBus bus;
    Descriptor descriptors[kDescriptorLimit];
};

Library library;

thread_local int threadStatus = 0;
thread_local int threadError = 0;
thread_local long threadCount = 0;

std::string boardName(int board) { return kBoardPrefix + std::to_string(board); }

std::vector<std::string> openHandles() {
    std::vector<std::string> handles;
    for (int ud = 0; ud < kDescriptorLimit; ++ud) {
        const Descriptor &d = library.descriptors[ud];
        if (!d.open) continue;
        handles.push_back(std::to_string(ud) + (d.board ? " board " : " device ") + boardName(d.boardIndex) +
                          (d.board ? "" : " " + std::to_string(d.address)));
    }
    return handles;
}

struct Lifetime {
    Lifetime() { sim::loadBus(library.bus, kLibraryFile); }
    ~Lifetime() { sim::unloadBus(library.bus, openHandles()); }
};
Lifetime lifetime;

struct Outcome {
    int error;
    bool timeout;
    bool end;        // a read that took the reply's last byte
    bool counted;
    long count;
    bool sentEnd;    // a write that carried END
    std::string data;
};

Outcome succeeded() { return Outcome{kNoError, false, false, false, 0, false, std::string()}; }
Outcome failed(int error) { return Outcome{error, false, false, false, 0, false, std::string()}; }

// Both places linux-gpib keeps its status: the globals and the thread's own.
void setStatus(const Outcome &outcome) {
    int status = kCmpl;
    if (outcome.error != kNoError) {
        status |= kErr;
        iberr = threadError = outcome.error;
    }
    if (outcome.timeout) status |= kTimo;
    if (outcome.end) status |= kEnd;
    ibsta = threadStatus = status;
    if (outcome.counted) {
        ibcntl = threadCount = outcome.count;
        ibcnt = static_cast<int>(outcome.count);
    }
}

std::string hexStatus(int status) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", static_cast<unsigned>(status) & 0xffffu);
    return text;
}

std::string errorSuffix(int error) { return error == kNoError ? std::string() : std::string(" iberr=") + kErrorNames[error]; }

int finish(const std::string &call, const Outcome &outcome) {
    setStatus(outcome);
    std::string line = call + " = " + hexStatus(ibsta);
    if (outcome.counted) line += " count=" + std::to_string(outcome.count);
    line += errorSuffix(outcome.error);
    if (outcome.sentEnd) line += " END";
    if (!outcome.data.empty()) line += " " + outcome.data;
    sim::traceLine(library.bus, line);
    sim::finishCall(library.bus, openHandles());
    return ibsta;
}

int finishDescriptor(const std::string &call, int ud, int error) {
    setStatus(error == kNoError ? succeeded() : failed(error));
    sim::traceLine(library.bus, call + " = " + std::to_string(ud) + errorSuffix(error));
    sim::finishCall(library.bus, openHandles());
    return ud;
}

Descriptor *findDescriptor(int ud) {
    if (ud < 0 || ud >= kDescriptorLimit || !library.descriptors[ud].open) return nullptr;
    return &library.descriptors[ud];
}

sim::SimInterface *boardInterface(int board) {
    if (board < 0 || board >= kBoardCount) return nullptr;
    return sim::findInterface(library.bus, boardName(board));
}

sim::SimDevice *addressedDevice(const Descriptor &d, sim::SimInterface **interface) {
    if (d.board) return nullptr;
    *interface = boardInterface(d.boardIndex);
    return *interface == nullptr ? nullptr : sim::deviceAt(**interface, d.address);
}

Outcome deviceOutcome(sim::DeviceResult result) {
    switch (result) {
    case sim::kDeviceOk: return succeeded();
    case sim::kDeviceNoListener: return failed(kENOL);
    case sim::kDeviceTimeout: {
        Outcome outcome = failed(kEABO);
        outcome.timeout = true;
        return outcome;
    }
    case sim::kDeviceIoError: break;
    }
    return failed(kEABO);
}

bool validTimeoutCode(int code) { return code >= 0 && code < kTimeoutCodeCount; }

long long timeoutMicroseconds(int code) {
    return code == 0 ? kTimeoutMicroseconds[kTimeoutCodeCount - 1] : kTimeoutMicroseconds[code];
}

void configure(Descriptor &d, int timeoutCode, bool eot) {
    d.timeoutCode = d.initialTimeoutCode = timeoutCode;
    d.eot = d.initialEot = eot;
}

std::string args(std::initializer_list<long long> values) {
    std::string text;
    for (long long value : values) text += (text.empty() ? "" : ",") + std::to_string(value);
    return text;
}

}  // namespace

// A board by its name in the configuration: here, an interface "gpibN" of the bus.
int ibfind(const char *name) {
    sim::refreshBus(library.bus);
    std::string call = "ibfind(" + sim::quoteText(name) + ")";
    if (name == nullptr) return finishDescriptor(call, -1, kEARG);
    std::string text(name);
    std::string digits = text.substr(text.size() < 4 ? text.size() : 4);
    bool canonical = text.compare(0, 4, kBoardPrefix) == 0 && !digits.empty() && digits.size() <= 2 &&
                     digits.find_first_not_of("0123456789") == std::string::npos &&
                     (digits.size() == 1 || digits[0] != '0');
    int board = canonical ? std::stoi(digits) : -1;
    if (!canonical || boardInterface(board) == nullptr) return finishDescriptor(call, -1, kENEB);
    Descriptor &d = library.descriptors[board];
    d.open = true;
    d.board = true;
    d.boardIndex = board;
    d.address = 0;
    configure(d, kBoardTimeoutCode, true);
    return finishDescriptor(call, board, kNoError);
}

int ibdev(int minor, int pad, int sad, int timo, int send_eoi, int eosmode) {
    std::string call = "ibdev(" + args({minor, pad, sad, timo, send_eoi, eosmode}) + ")";
    if (boardInterface(minor) == nullptr) return finishDescriptor(call, -1, kENEB);
    bool secondaryValid = sad == 0 || (sad >= 0x60 && sad <= 0x7e);
    if (pad < 0 || pad >= sim::kAddressCount || !secondaryValid || !validTimeoutCode(timo))
        return finishDescriptor(call, -1, kEARG);
    for (int ud = kFirstDeviceDescriptor; ud < kDescriptorLimit; ++ud) {
        Descriptor &d = library.descriptors[ud];
        if (d.open) continue;
        d.open = true;
        d.board = false;
        d.boardIndex = minor;
        d.address = pad;
        configure(d, timo, send_eoi != 0);
        return finishDescriptor(call, ud, kNoError);
    }
    return finishDescriptor(call, -1, kEDVR);
}

int ibonl(int ud, int onl) {
    std::string call = "ibonl(" + args({ud, onl}) + ")";
    Descriptor *d = findDescriptor(ud);
    if (d == nullptr) return finish(call, failed(kEDVR));
    if (onl == 0) {
        d->open = false;
    } else {
        d->timeoutCode = d->initialTimeoutCode;
        d->eot = d->initialEot;
    }
    return finish(call, succeeded());
}

int ibclr(int ud) {
    std::string call = "ibclr(" + args({ud}) + ")";
    Descriptor *d = findDescriptor(ud);
    if (d == nullptr) return finish(call, failed(kEDVR));
    sim::SimInterface *interface = nullptr;
    sim::SimDevice *device = addressedDevice(*d, &interface);
    if (device == nullptr) return finish(call, failed(kEARG));
    return finish(call, deviceOutcome(sim::clearDevice(library.bus, *device)));
}

int ibloc(int ud) {
    std::string call = "ibloc(" + args({ud}) + ")";
    Descriptor *d = findDescriptor(ud);
    if (d == nullptr) return finish(call, failed(kEDVR));
    sim::SimInterface *interface = nullptr;
    sim::SimDevice *device = addressedDevice(*d, &interface);
    if (device == nullptr) return finish(call, succeeded());
    return finish(call, deviceOutcome(sim::localDevice(*device)));
}

int ibtmo(int ud, int v) {
    std::string call = "ibtmo(" + args({ud, v}) + ")";
    Descriptor *d = findDescriptor(ud);
    if (d == nullptr) return finish(call, failed(kEDVR));
    if (!validTimeoutCode(v)) return finish(call, failed(kEARG));
    d->timeoutCode = v;
    return finish(call, succeeded());
}

int ibeot(int ud, int v) {
    std::string call = "ibeot(" + args({ud, v}) + ")";
    Descriptor *d = findDescriptor(ud);
    if (d == nullptr) return finish(call, failed(kEDVR));
    d->eot = v != 0;
    return finish(call, succeeded());
}

// END control is the one option modelled; byte swapping (20) is not a
// linux-gpib option and is refused like any other it does not know.
int ibconfig(int ud, int option, int value) {
    std::string call = "ibconfig(" + args({ud, option, value}) + ")";
    Descriptor *d = findDescriptor(ud);
    if (d == nullptr) return finish(call, failed(kEDVR));
    if (option != kIbcEOT) return finish(call, failed(kEARG));
    d->eot = value != 0;
    return finish(call, succeeded());
}

int ibwrt(int ud, const void *buf, long count) {
    sim::startDataCall(library.bus);
    std::string call = "ibwrt(" + std::to_string(ud) + "," +
                       sim::tracePayload(buf, count > 0 ? static_cast<std::size_t>(count) : 0) + "," +
                       std::to_string(count) + ")";
    Descriptor *d = findDescriptor(ud);
    if (d == nullptr) return finish(call, failed(kEDVR));
    if (count < 0 || (buf == nullptr && count > 0)) return finish(call, failed(kEARG));
    sim::SimInterface *interface = nullptr;
    sim::SimDevice *device = addressedDevice(*d, &interface);
    if (device == nullptr) return finish(call, failed(kEARG));
    bool end = d->eot && count > 0;
    sim::DeviceResult result = sim::writeDevice(library.bus, *interface, d->address, buf,
                                                static_cast<std::size_t>(count), end,
                                                timeoutMicroseconds(d->timeoutCode));
    Outcome outcome = deviceOutcome(result);
    outcome.counted = true;
    outcome.count = result == sim::kDeviceOk ? count : 0;
    outcome.sentEnd = end && result == sim::kDeviceOk;
    return finish(call, outcome);
}

int ibrd(int ud, void *buf, long count) {
    sim::startDataCall(library.bus);
    std::string call = "ibrd(" + args({ud, count}) + ")";
    Descriptor *d = findDescriptor(ud);
    if (d == nullptr) return finish(call, failed(kEDVR));
    if (count < 0 || (buf == nullptr && count > 0)) return finish(call, failed(kEARG));
    sim::SimInterface *interface = nullptr;
    sim::SimDevice *device = addressedDevice(*d, &interface);
    if (device == nullptr) return finish(call, failed(kEARG));
    std::size_t received = 0;
    bool end = false;
    sim::DeviceResult result = sim::readDevice(library.bus, *device, buf, static_cast<std::size_t>(count),
                                               timeoutMicroseconds(d->timeoutCode), &received, &end);
    Outcome outcome = deviceOutcome(result);
    outcome.end = end;
    outcome.counted = true;
    outcome.count = static_cast<long>(received);
    if (received > 0) outcome.data = sim::tracePayload(buf, received);
    return finish(call, outcome);
}

#if !defined(FAKE_GLOBALS_ONLY)
int ThreadIbsta(void) { return threadStatus; }
int ThreadIberr(void) { return threadError; }
int ThreadIbcnt(void) { return static_cast<int>(threadCount); }
long ThreadIbcntl(void) { return threadCount; }
#endif
