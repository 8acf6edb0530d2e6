// The NI-488 family's calls over the simulated bus. Each call finds its
// descriptor, acts on the bus, then sets the status values, writes its trace
// line and refreshes the status file in one place.
#include "sim/ni488_family.h"

#include <cstdio>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace sim {
namespace {

const int kNoError = -1;
const char kBoardPrefix[] = "gpib";

std::string boardName(int board) { return kBoardPrefix + std::to_string(board); }

std::vector<std::string> openHandles(const NiLibrary &library) {
    std::vector<std::string> handles;
    for (int ud = 0; ud < kNiDescriptorLimit; ++ud) {
        const NiDescriptor &d = library.descriptors[ud];
        if (!d.open) continue;
        if (d.board)
            handles.push_back(std::to_string(ud) + " board " + boardName(d.boardIndex));
        else
            handles.push_back(std::to_string(ud) + " device " + boardName(d.boardIndex) + " " +
                              std::to_string(d.address));
    }
    return handles;
}

// How one call ended; turned into the status values by finish().
struct Outcome {
    int error;        // an error code, or kNoError
    bool timeout;
    bool end;         // a read that took the reply's last byte
    bool counted;     // whether the call sets the count
    long count;
    bool sentEnd;     // a write that carried END, when the dialect traces it
    std::string data; // traced after the status (what a read returned)
};

Outcome succeeded() { return Outcome{kNoError, false, false, false, 0, false, std::string()}; }
Outcome failed(int error) { return Outcome{error, false, false, false, 0, false, std::string()}; }

std::string hexStatus(int status) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", static_cast<unsigned>(status) & 0xffffu);
    return text;
}

std::string errorSuffix(const NiDialect &dialect, int error) {
    if (error == kNoError) return std::string();
    return std::string(" iberr=") + dialect.errorNames[error];
}

int setStatus(const NiDialect &dialect, const Outcome &outcome) {
    int status = dialect.completeBit;
    if (outcome.error != kNoError) status |= dialect.errBit;
    if (outcome.timeout) status |= dialect.timeoutBit;
    if (outcome.end) status |= dialect.endBit;
    dialect.storeStatus(status, outcome.error != kNoError ? &outcome.error : nullptr,
                        outcome.counted ? &outcome.count : nullptr);
    return status;
}

// The exit of every call that returns the status word.
int finish(NiLibrary &library, const std::string &call, const Outcome &outcome) {
    int status = setStatus(*library.dialect, outcome);
    std::string line = call + " = " + hexStatus(status);
    if (outcome.counted) line += " count=" + std::to_string(outcome.count);
    line += errorSuffix(*library.dialect, outcome.error);
    if (outcome.sentEnd) line += " END";
    if (!outcome.data.empty()) line += " " + outcome.data;
    traceLine(library.bus, line);
    finishCall(library.bus, openHandles(library));
    return status;
}

// The exit of the two calls that return a descriptor.
int finishDescriptor(NiLibrary &library, const std::string &call, int ud, int error) {
    setStatus(*library.dialect, error == kNoError ? succeeded() : failed(error));
    traceLine(library.bus, call + " = " + std::to_string(ud) + errorSuffix(*library.dialect, error));
    finishCall(library.bus, openHandles(library));
    return ud;
}

NiDescriptor *findDescriptor(NiLibrary &library, int ud) {
    if (ud < 0 || ud >= kNiDescriptorLimit || !library.descriptors[ud].open) return nullptr;
    return &library.descriptors[ud];
}

SimInterface *boardInterface(NiLibrary &library, int board) {
    if (board < 0 || board >= kNiBoardCount) return nullptr;
    return findInterface(library.bus, boardName(board));
}

// The device a device descriptor addresses; null for a board descriptor.
SimDevice *addressedDevice(NiLibrary &library, const NiDescriptor &d, SimInterface **interface) {
    if (d.board) return nullptr;
    *interface = boardInterface(library, d.boardIndex);
    return *interface == nullptr ? nullptr : deviceAt(**interface, d.address);
}

Outcome deviceOutcome(const NiDialect &dialect, DeviceResult result) {
    switch (result) {
    case kDeviceOk: return succeeded();
    case kDeviceNoListener: return failed(dialect.noListener);
    case kDeviceTimeout: {
        Outcome outcome = failed(dialect.aborted);
        outcome.timeout = true;
        return outcome;
    }
    case kDeviceIoError: break;
    }
    return failed(dialect.aborted);
}

bool validTimeoutCode(const NiDialect &dialect, int code) { return code >= 0 && code < dialect.timeoutCodeCount; }

long long timeoutMicroseconds(const NiDialect &dialect, int code) {
    return dialect.timeoutMicroseconds[code == 0 ? dialect.timeoutCodeCount - 1 : code];
}

void configure(NiDescriptor &d, int timeoutCode, bool eot, int eos) {
    d.timeoutCode = d.initialTimeoutCode = timeoutCode;
    d.eot = d.initialEot = eot;
    d.eos = d.initialEos = eos;
    d.swapBytes = false;
}

std::string args(std::initializer_list<long long> values) {
    std::string text;
    for (long long value : values) text += (text.empty() ? "" : ",") + std::to_string(value);
    return text;
}

}  // namespace

void niLoad(NiLibrary &library) { loadBus(library.bus, library.dialect->libraryFile); }

void niUnload(NiLibrary &library) { unloadBus(library.bus, openHandles(library)); }

// A board by its name: an interface "gpibN" of the bus.
int niFind(NiLibrary &library, const char *name) {
    const NiDialect &dialect = *library.dialect;
    // Every download starts here: a description changed since the last one
    // takes effect now.
    refreshBus(library.bus);
    std::string call = std::string(dialect.findEntry) + "(" + quoteText(name) + ")";
    if (name == nullptr) return finishDescriptor(library, call, -1, dialect.badArgument);
    std::string text(name);
    int board = -1;
    std::string digits = text.substr(text.size() < 4 ? text.size() : 4);
    bool canonical = text.compare(0, 4, kBoardPrefix) == 0 && !digits.empty() && digits.size() <= 2 &&
                     digits.find_first_not_of("0123456789") == std::string::npos &&
                     (digits.size() == 1 || digits[0] != '0');
    if (canonical) board = std::stoi(digits);
    if (!canonical || boardInterface(library, board) == nullptr)
        return finishDescriptor(library, call, -1, dialect.noBoard);
    NiDescriptor &d = library.descriptors[board];
    d.open = true;
    d.board = true;
    d.boardIndex = board;
    d.address = 0;
    configure(d, kNiBoardTimeoutCode, true, 0);
    return finishDescriptor(library, call, board, kNoError);
}

int niDev(NiLibrary &library, int board, int pad, int sad, int tmo, int eot, int eos) {
    const NiDialect &dialect = *library.dialect;
    std::string call = "ibdev(" + args({board, pad, sad, tmo, eot, eos}) + ")";
    if (boardInterface(library, board) == nullptr) return finishDescriptor(library, call, -1, dialect.noBoard);
    bool secondaryValid = sad == 0 || (sad >= 0x60 && sad <= 0x7e);
    if (pad < 0 || pad >= kAddressCount || !secondaryValid || !validTimeoutCode(dialect, tmo))
        return finishDescriptor(library, call, -1, dialect.badArgument);
    for (int ud = kNiFirstDeviceDescriptor; ud < kNiDescriptorLimit; ++ud) {
        NiDescriptor &d = library.descriptors[ud];
        if (d.open) continue;
        d.open = true;
        d.board = false;
        d.boardIndex = board;
        d.address = pad;
        configure(d, tmo, eot != 0, eos);
        return finishDescriptor(library, call, ud, kNoError);
    }
    return finishDescriptor(library, call, -1, dialect.noDescriptor);
}

int niOnl(NiLibrary &library, int ud, int v) {
    std::string call = "ibonl(" + args({ud, v}) + ")";
    NiDescriptor *d = findDescriptor(library, ud);
    if (d == nullptr) return finish(library, call, failed(library.dialect->noDescriptor));
    if (v == 0) {
        d->open = false;
    } else {
        d->timeoutCode = d->initialTimeoutCode;
        d->eot = d->initialEot;
        d->eos = d->initialEos;
        d->swapBytes = false;
    }
    return finish(library, call, succeeded());
}

int niClr(NiLibrary &library, int ud) {
    std::string call = "ibclr(" + args({ud}) + ")";
    NiDescriptor *d = findDescriptor(library, ud);
    if (d == nullptr) return finish(library, call, failed(library.dialect->noDescriptor));
    SimInterface *interface = nullptr;
    SimDevice *device = addressedDevice(library, *d, &interface);
    if (device == nullptr) return finish(library, call, failed(library.dialect->badArgument));
    return finish(library, call, deviceOutcome(*library.dialect, clearDevice(library.bus, *device)));
}

int niLoc(NiLibrary &library, int ud) {
    std::string call = "ibloc(" + args({ud}) + ")";
    NiDescriptor *d = findDescriptor(library, ud);
    if (d == nullptr) return finish(library, call, failed(library.dialect->noDescriptor));
    SimInterface *interface = nullptr;
    SimDevice *device = addressedDevice(library, *d, &interface);
    if (device == nullptr) return finish(library, call, succeeded());  // a board in local: nothing to do
    return finish(library, call, deviceOutcome(*library.dialect, localDevice(*device)));
}

int niTmo(NiLibrary &library, int ud, int v) {
    std::string call = "ibtmo(" + args({ud, v}) + ")";
    NiDescriptor *d = findDescriptor(library, ud);
    if (d == nullptr) return finish(library, call, failed(library.dialect->noDescriptor));
    if (!validTimeoutCode(*library.dialect, v)) return finish(library, call, failed(library.dialect->badArgument));
    d->timeoutCode = v;
    return finish(library, call, succeeded());
}

int niEot(NiLibrary &library, int ud, int v) {
    std::string call = "ibeot(" + args({ud, v}) + ")";
    NiDescriptor *d = findDescriptor(library, ud);
    if (d == nullptr) return finish(library, call, failed(library.dialect->noDescriptor));
    d->eot = v != 0;
    return finish(library, call, succeeded());
}

// Only the dialect's options are modelled; any other is refused.
int niConfig(NiLibrary &library, int ud, int option, int value) {
    const NiDialect &dialect = *library.dialect;
    std::string call = "ibconfig(" + args({ud, option, value}) + ")";
    NiDescriptor *d = findDescriptor(library, ud);
    if (d == nullptr) return finish(library, call, failed(dialect.noDescriptor));
    if (option != kNiNoOption && option == dialect.swapOption)
        d->swapBytes = value != 0;
    else if (option != kNiNoOption && option == dialect.endOption)
        d->eot = value != 0;
    else
        return finish(library, call, failed(dialect.badArgument));
    return finish(library, call, succeeded());
}

int niWrt(NiLibrary &library, int ud, const void *buf, long count) {
    const NiDialect &dialect = *library.dialect;
    startDataCall(library.bus);
    std::string call = "ibwrt(" + std::to_string(ud) + "," +
                       tracePayload(buf, count > 0 ? static_cast<std::size_t>(count) : 0) + "," +
                       std::to_string(count) + ")";
    NiDescriptor *d = findDescriptor(library, ud);
    if (d == nullptr) return finish(library, call, failed(dialect.noDescriptor));
    if (count < 0 || (buf == nullptr && count > 0)) return finish(library, call, failed(dialect.badArgument));
    SimInterface *interface = nullptr;
    SimDevice *device = addressedDevice(library, *d, &interface);
    if (device == nullptr) return finish(library, call, failed(dialect.badArgument));
    std::size_t size = static_cast<std::size_t>(count);
    const unsigned char *bytes = static_cast<const unsigned char *>(buf);
    std::vector<unsigned char> swapped;
    if (d->swapBytes) {
        // Each byte pair goes out the other way round; an odd last byte as it is.
        swapped.assign(bytes, bytes + size);
        for (std::size_t i = 0; i + 1 < size; i += 2) std::swap(swapped[i], swapped[i + 1]);
        bytes = swapped.data();
    }
    bool end = d->eot && (!dialect.endNeedsData || count > 0);
    DeviceResult result = writeDevice(library.bus, *interface, d->address, bytes, size, end,
                                      timeoutMicroseconds(dialect, d->timeoutCode));
    Outcome outcome = deviceOutcome(dialect, result);
    outcome.counted = true;
    outcome.count = result == kDeviceOk ? count : 0;
    outcome.sentEnd = dialect.endNeedsData && end && result == kDeviceOk;
    return finish(library, call, outcome);
}

int niRd(NiLibrary &library, int ud, void *buf, long count) {
    const NiDialect &dialect = *library.dialect;
    startDataCall(library.bus);
    std::string call = "ibrd(" + args({ud, count}) + ")";
    NiDescriptor *d = findDescriptor(library, ud);
    if (d == nullptr) return finish(library, call, failed(dialect.noDescriptor));
    if (count < 0 || (buf == nullptr && count > 0)) return finish(library, call, failed(dialect.badArgument));
    SimInterface *interface = nullptr;
    SimDevice *device = addressedDevice(library, *d, &interface);
    if (device == nullptr) return finish(library, call, failed(dialect.badArgument));
    std::size_t received = 0;
    bool end = false;
    DeviceResult result = readDevice(library.bus, *device, buf, static_cast<std::size_t>(count),
                                     timeoutMicroseconds(dialect, d->timeoutCode), &received, &end);
    Outcome outcome = deviceOutcome(dialect, result);
    outcome.end = end;
    outcome.counted = true;
    outcome.count = static_cast<long>(received);
    if (received > 0) outcome.data = tracePayload(buf, received);
    return finish(library, call, outcome);
}

}  // namespace sim
