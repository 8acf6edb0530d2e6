// gpib-32.dll: the NI-488.2 driver's exports, a thin layer over the simulated
// bus. Each entry finds its descriptor, acts on the bus, then sets the status
// values, writes its trace line and refreshes the status file in one place.
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

// The module's header is included for one piece of shared data only, the
// text of the driver's 1994 notice (kNi488Notice); everything else the
// stand-in declares itself, from the driver's published interface.
#include "gpib/driver_abi.h"
#include "sim/ni488_interface.h"
#include "sim/sim.h"

using namespace ni;

// The data exports: declared with the export marker, then defined.
SIM_NI_EXPORT int user_ibsta;
SIM_NI_EXPORT int user_iberr;
SIM_NI_EXPORT long user_ibcntl;
// The notice lies in a larger array, so that the notice faults can make it
// run on past its 76 bytes and a reader that looks one byte further still
// reads inside the export.
enum { kNoticeStorage = 128 };
SIM_NI_EXPORT char CopyrightString[kNoticeStorage];
int user_ibsta = 0;
int user_iberr = 0;
long user_ibcntl = 0;
// The notice of a later driver release: only the year differs.
char CopyrightString[kNoticeStorage] =
    "\r\n Copyright 2001 National Instruments Corporation.  All rights reserved. \r\n";

// The notice is 76 characters long.
enum { kNoticeLength = sizeof kNi488Notice - 1 };
static_assert(sizeof CopyrightString > sizeof kNi488Notice, "the notice and a byte beyond it fit");

namespace {

// Board descriptors are the board indices; device descriptors follow them.
enum { kBoardCount = 32, kFirstDeviceDescriptor = kBoardCount, kDeviceDescriptorCount = 1024 };
enum { kDescriptorLimit = kFirstDeviceDescriptor + kDeviceDescriptorCount };
enum { kBoardTimeoutCode = 13 };  // 10 s, the boards' usual setting
// Timeout code 0 waits for ever; the simulator stops at the longest finite one.
const long long kForeverMicroseconds = kTimeoutMicroseconds[kTimeoutCodeCount - 1];
const int kNoError = -1;
const char kBoardPrefix[] = "gpib";
const char *const kErrorNames[] = {"EDVR", "ECIC", "ENOL", "EADR", "EARG", "ESAC", "EABO", "ENEB"};

struct Descriptor {
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

struct NiDriver {
    sim::SimBus bus;
    Descriptor descriptors[kDescriptorLimit];
};

NiDriver driver;

std::string boardName(int board) { return kBoardPrefix + std::to_string(board); }

std::vector<std::string> openHandles() {
    std::vector<std::string> handles;
    for (int ud = 0; ud < kDescriptorLimit; ++ud) {
        const Descriptor &d = driver.descriptors[ud];
        if (!d.open) continue;
        if (d.board)
            handles.push_back(std::to_string(ud) + " board " + boardName(d.boardIndex));
        else
            handles.push_back(std::to_string(ud) + " device " + boardName(d.boardIndex) + " " +
                              std::to_string(d.address));
    }
    return handles;
}

// The notice faults of the description, applied when the library loads.
const char kShortNotice[] = "\r\n Copyright";  // 12 bytes
const char kNoticeRunOn = '*';

void applyNoticeFault(sim::NoticeFault fault) {
    if (fault == sim::kNoticeShort) {
        std::memset(CopyrightString, 0, sizeof CopyrightString);
        std::memcpy(CopyrightString, kShortNotice, sizeof kShortNotice);
    } else if (fault == sim::kNoticeUnterminated) {
        // The 76 bytes, then more text up to the array's last byte.
        std::memset(CopyrightString + kNoticeLength, kNoticeRunOn, sizeof CopyrightString - kNoticeLength - 1);
        CopyrightString[sizeof CopyrightString - 1] = '\0';
    }
}

// Counts loads and unloads of this library in the status file.
struct Lifetime {
    Lifetime() {
        sim::loadBus(driver.bus, SIM_NI_LIBRARY_FILE);
        applyNoticeFault(driver.bus.noticeFault);
    }
    ~Lifetime() { sim::unloadBus(driver.bus, openHandles()); }
};
Lifetime lifetime;

// How one call ended; turned into the status values by finish().
struct Outcome {
    int error;        // an iberr value, or kNoError
    bool timeout;
    bool end;
    bool counted;     // whether the call sets the count
    long count;
    std::string data; // traced after the status (what a read returned)
};

Outcome succeeded() { return Outcome{kNoError, false, false, false, 0, std::string()}; }
Outcome failed(int error) { return Outcome{error, false, false, false, 0, std::string()}; }

std::string hexStatus(int status) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", static_cast<unsigned>(status) & 0xffffu);
    return text;
}

std::string errorSuffix(int error) {
    if (error == kNoError) return std::string();
    return std::string(" iberr=") + kErrorNames[error];
}

void setStatus(const Outcome &outcome) {
    int status = kCmpl;
    if (outcome.error != kNoError) {
        status |= kErr;
        user_iberr = outcome.error;
    }
    if (outcome.timeout) status |= kTimo;
    if (outcome.end) status |= kEnd;
    user_ibsta = status;
    if (outcome.counted) user_ibcntl = outcome.count;
}

// The exit of every entry that returns the status word.
int finish(const std::string &call, const Outcome &outcome) {
    setStatus(outcome);
    std::string line = call + " = " + hexStatus(user_ibsta);
    if (outcome.counted) line += " count=" + std::to_string(outcome.count);
    line += errorSuffix(outcome.error);
    if (!outcome.data.empty()) line += " " + outcome.data;
    sim::traceLine(driver.bus, line);
    sim::finishCall(driver.bus, openHandles());
    return user_ibsta;
}

// The exit of the two entries that return a descriptor.
int finishDescriptor(const std::string &call, int ud, int error) {
    setStatus(error == kNoError ? succeeded() : failed(error));
    sim::traceLine(driver.bus, call + " = " + std::to_string(ud) + errorSuffix(error));
    sim::finishCall(driver.bus, openHandles());
    return ud;
}

Descriptor *findDescriptor(int ud) {
    if (ud < 0 || ud >= kDescriptorLimit || !driver.descriptors[ud].open) return nullptr;
    return &driver.descriptors[ud];
}

sim::SimInterface *boardInterface(int board) {
    if (board < 0 || board >= kBoardCount) return nullptr;
    return sim::findInterface(driver.bus, boardName(board));
}

// The device a device descriptor addresses; null for a board descriptor.
sim::SimDevice *addressedDevice(const Descriptor &d, sim::SimInterface **interface) {
    if (d.board) return nullptr;
    *interface = boardInterface(d.boardIndex);
    return *interface == nullptr ? nullptr : sim::deviceAt(**interface, d.address);
}

Outcome deviceOutcome(sim::DeviceResult result) {
    switch (result) {
    case sim::kDeviceOk: return succeeded();
    case sim::kDeviceNoListener: return failed(kEnol);
    case sim::kDeviceTimeout: {
        Outcome outcome = failed(kEabo);
        outcome.timeout = true;
        return outcome;
    }
    case sim::kDeviceIoError: break;
    }
    return failed(kEabo);
}

bool validTimeoutCode(int code) { return code >= 0 && code < kTimeoutCodeCount; }

long long timeoutMicroseconds(int code) {
    return code == 0 ? kForeverMicroseconds : kTimeoutMicroseconds[code];
}

void configure(Descriptor &d, int timeoutCode, bool eot, int eos) {
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

SIM_NI_EXPORT int SIM_NI_CALL ibfindA(const char *name) {
    // Every download starts here: a description changed since the last one
    // takes effect now.
    sim::refreshBus(driver.bus);
    std::string call = "ibfindA(" + sim::quoteText(name) + ")";
    if (name == nullptr) return finishDescriptor(call, -1, kEarg);
    std::string text(name);
    int board = -1;
    std::string digits = text.substr(text.size() < 4 ? text.size() : 4);
    bool canonical = text.compare(0, 4, kBoardPrefix) == 0 && !digits.empty() && digits.size() <= 2 &&
                     digits.find_first_not_of("0123456789") == std::string::npos &&
                     (digits.size() == 1 || digits[0] != '0');
    if (canonical) board = std::stoi(digits);
    if (!canonical || boardInterface(board) == nullptr) return finishDescriptor(call, -1, kEneb);
    Descriptor &d = driver.descriptors[board];
    d.open = true;
    d.board = true;
    d.boardIndex = board;
    d.address = 0;
    configure(d, kBoardTimeoutCode, true, 0);
    return finishDescriptor(call, board, kNoError);
}

SIM_NI_EXPORT int SIM_NI_CALL ibdev(int board, int pad, int sad, int tmo, int eot, int eos) {
    std::string call = "ibdev(" + args({board, pad, sad, tmo, eot, eos}) + ")";
    if (boardInterface(board) == nullptr) return finishDescriptor(call, -1, kEneb);
    bool secondaryValid = sad == 0 || (sad >= 0x60 && sad <= 0x7e);
    if (pad < 0 || pad >= sim::kAddressCount || !secondaryValid || !validTimeoutCode(tmo))
        return finishDescriptor(call, -1, kEarg);
    for (int ud = kFirstDeviceDescriptor; ud < kDescriptorLimit; ++ud) {
        Descriptor &d = driver.descriptors[ud];
        if (d.open) continue;
        d.open = true;
        d.board = false;
        d.boardIndex = board;
        d.address = pad;
        configure(d, tmo, eot != 0, eos);
        return finishDescriptor(call, ud, kNoError);
    }
    return finishDescriptor(call, -1, kEdvr);
}

SIM_NI_EXPORT int SIM_NI_CALL ibonl(int ud, int v) {
    std::string call = "ibonl(" + args({ud, v}) + ")";
    Descriptor *d = findDescriptor(ud);
    if (d == nullptr) return finish(call, failed(kEdvr));
    if (v == 0) {
        d->open = false;
    } else {
        d->timeoutCode = d->initialTimeoutCode;
        d->eot = d->initialEot;
        d->eos = d->initialEos;
        d->swapBytes = false;
    }
    return finish(call, succeeded());
}

SIM_NI_EXPORT int SIM_NI_CALL ibclr(int ud) {
    std::string call = "ibclr(" + args({ud}) + ")";
    Descriptor *d = findDescriptor(ud);
    if (d == nullptr) return finish(call, failed(kEdvr));
    sim::SimInterface *interface = nullptr;
    sim::SimDevice *device = addressedDevice(*d, &interface);
    if (device == nullptr) return finish(call, failed(kEarg));
    return finish(call, deviceOutcome(sim::clearDevice(driver.bus, *device)));
}

SIM_NI_EXPORT int SIM_NI_CALL ibloc(int ud) {
    std::string call = "ibloc(" + args({ud}) + ")";
    Descriptor *d = findDescriptor(ud);
    if (d == nullptr) return finish(call, failed(kEdvr));
    sim::SimInterface *interface = nullptr;
    sim::SimDevice *device = addressedDevice(*d, &interface);
    if (device == nullptr) return finish(call, succeeded());  // a board in local: nothing to do
    return finish(call, deviceOutcome(sim::localDevice(*device)));
}

SIM_NI_EXPORT int SIM_NI_CALL ibtmo(int ud, int v) {
    std::string call = "ibtmo(" + args({ud, v}) + ")";
    Descriptor *d = findDescriptor(ud);
    if (d == nullptr) return finish(call, failed(kEdvr));
    if (!validTimeoutCode(v)) return finish(call, failed(kEarg));
    d->timeoutCode = v;
    return finish(call, succeeded());
}

SIM_NI_EXPORT int SIM_NI_CALL ibeot(int ud, int v) {
    std::string call = "ibeot(" + args({ud, v}) + ")";
    Descriptor *d = findDescriptor(ud);
    if (d == nullptr) return finish(call, failed(kEdvr));
    d->eot = v != 0;
    return finish(call, succeeded());
}

SIM_NI_EXPORT int SIM_NI_CALL ibconfig(int ud, int option, int value) {
    std::string call = "ibconfig(" + args({ud, option, value}) + ")";
    Descriptor *d = findDescriptor(ud);
    if (d == nullptr) return finish(call, failed(kEdvr));
    // Only byte swapping is modelled; any other option is refused.
    if (option != kOptionSwapBytes) return finish(call, failed(kEarg));
    d->swapBytes = value != 0;
    return finish(call, succeeded());
}

SIM_NI_EXPORT int SIM_NI_CALL ibwrt(int ud, const void *buf, long count) {
    sim::startDataCall(driver.bus);
    std::string call = "ibwrt(" + std::to_string(ud) + "," +
                       sim::tracePayload(buf, count > 0 ? static_cast<std::size_t>(count) : 0) + "," +
                       std::to_string(count) + ")";
    Descriptor *d = findDescriptor(ud);
    if (d == nullptr) return finish(call, failed(kEdvr));
    if (count < 0 || (buf == nullptr && count > 0)) return finish(call, failed(kEarg));
    sim::SimInterface *interface = nullptr;
    sim::SimDevice *device = addressedDevice(*d, &interface);
    if (device == nullptr) return finish(call, failed(kEarg));
    std::size_t size = static_cast<std::size_t>(count);
    const unsigned char *bytes = static_cast<const unsigned char *>(buf);
    std::vector<unsigned char> swapped;
    if (d->swapBytes) {
        // Each byte pair goes out the other way round; an odd last byte as it is.
        swapped.assign(bytes, bytes + size);
        for (std::size_t i = 0; i + 1 < size; i += 2) std::swap(swapped[i], swapped[i + 1]);
        bytes = swapped.data();
    }
    sim::DeviceResult result = sim::writeDevice(driver.bus, *interface, d->address, bytes, size, d->eot,
                                                timeoutMicroseconds(d->timeoutCode));
    Outcome outcome = deviceOutcome(result);
    outcome.counted = true;
    outcome.count = result == sim::kDeviceOk ? count : 0;
    return finish(call, outcome);
}

SIM_NI_EXPORT int SIM_NI_CALL ibrd(int ud, void *buf, long count) {
    sim::startDataCall(driver.bus);
    std::string call = "ibrd(" + args({ud, count}) + ")";
    Descriptor *d = findDescriptor(ud);
    if (d == nullptr) return finish(call, failed(kEdvr));
    if (count < 0 || (buf == nullptr && count > 0)) return finish(call, failed(kEarg));
    sim::SimInterface *interface = nullptr;
    sim::SimDevice *device = addressedDevice(*d, &interface);
    if (device == nullptr) return finish(call, failed(kEarg));
    std::size_t received = 0;
    bool end = false;
    sim::DeviceResult result = sim::readDevice(driver.bus, *device, buf, static_cast<std::size_t>(count),
                                               timeoutMicroseconds(d->timeoutCode), &received, &end);
    Outcome outcome = deviceOutcome(result);
    outcome.end = end;
    outcome.counted = true;
    outcome.count = static_cast<long>(received);
    if (received > 0) outcome.data = sim::tracePayload(buf, received);
    return finish(call, outcome);
}

// Each entry has the type the driver's interface gives it.
static_assert(std::is_same<decltype(&ibclr), Ibclr *>::value, "ibclr");
static_assert(std::is_same<decltype(&ibconfig), Ibconfig *>::value, "ibconfig");
static_assert(std::is_same<decltype(&ibdev), Ibdev *>::value, "ibdev");
static_assert(std::is_same<decltype(&ibeot), Ibeot *>::value, "ibeot");
static_assert(std::is_same<decltype(&ibfindA), IbfindA *>::value, "ibfindA");
static_assert(std::is_same<decltype(&ibloc), Ibloc *>::value, "ibloc");
static_assert(std::is_same<decltype(&ibonl), Ibonl *>::value, "ibonl");
static_assert(std::is_same<decltype(&ibrd), Ibrd *>::value, "ibrd");
static_assert(std::is_same<decltype(&ibtmo), Ibtmo *>::value, "ibtmo");
static_assert(std::is_same<decltype(&ibwrt), Ibwrt *>::value, "ibwrt");
