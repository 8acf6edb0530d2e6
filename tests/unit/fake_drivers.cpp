// The fake drivers: each NI-488.2 and SICL entry appends a trace line and acts
// on the bus model; the NI status exports and notice are data of this file.
#include "fake_drivers.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "fake_kernel.h"
// The module's declarations serve only to check, at compile time, that each
// fake entry fits the slot the module calls it through, and for the notice
// text; the fakes' conventions, names and results are their own (vendor.h).
#include "gpib/driver_abi.h"
#include "vendor.h"

namespace fakebus {
namespace {

Bus theBus;

// The NI-488.2 data exports: int status and error, long count.
int exportedStatus = 0;
int exportedError = 0;
long exportedCount = 0;

// Two pages: the notice ends at the end of the first, the second is never accessible.
char *noticePages = nullptr;
std::size_t pageSize = 0;
char *noticeStart = nullptr;

using namespace vendor;

void trace(const std::string &line) { theBus.trace.push_back(line); }
void fault(const std::string &text) { theBus.faults.push_back(text); }

std::string number(long long value) { return std::to_string(value); }

void setStatus(int status, int error, long count) {
    exportedStatus = status;
    exportedError = error;
    exportedCount = count;
}

Device *deviceAt(int address) {
    auto found = theBus.devices.find(address);
    return found == theBus.devices.end() ? nullptr : &found->second;
}

// Copies what a device answers into the caller's buffer; returns the count it reports.
unsigned long readReply(Device *device, char *buffer, unsigned long max, bool *answered) {
    unsigned long count = 0;
    *answered = device != nullptr && device->answers;
    if (*answered) {
        count = device->reply.size() < max ? device->reply.size() : max;
        std::memcpy(buffer, device->reply.data(), count);
    }
    if (device != nullptr && !device->staleTail.empty() && count < max) {
        unsigned long room = max - count;
        unsigned long stale = device->staleTail.size() < room ? device->staleTail.size() : room;
        std::memcpy(buffer + count, device->staleTail.data(), stale);
    }
    return count;
}

// Whether this write is the one a test asked to fail.
bool sampleWriteFails() {
    ++theBus.sampleWrites;
    return theBus.failSampleWrite != 0 && theBus.sampleWrites == theBus.failSampleWrite;
}

// Counts a write to device and tells whether it is one of those set to fail.
bool writeFails(Device *device) {
    if (device == nullptr) return false;
    ++device->writes;
    return device->failWrites.count(device->writes) != 0;
}

void noteFailedWrite(Device *device) {
    if (device != nullptr) device->failedWrites.push_back(device->writes);
}

// ---- NI-488.2 ----------------------------------------------------------

Bus::Session *niSession(const char *entry, int ud) {
    auto found = theBus.niDescriptors.find(ud);
    if (found == theBus.niDescriptors.end()) {
        fault(std::string(entry) + " on descriptor " + number(ud) + " that is not online");
        return nullptr;
    }
    return &found->second;
}

int VENDOR_NI_API ni_ibclr(int ud) {
    trace("ibclr(" + number(ud) + ")");
    Bus::Session *session = niSession("ibclr", ud);
    Device *device = session != nullptr ? deviceAt(session->address) : nullptr;
    if (device == nullptr || !device->answers) {
        setStatus(kErr, kENOL, 0);
    } else {
        ++device->clears;
        setStatus(kCmpl, 0, 0);
    }
    return exportedStatus;
}

int VENDOR_NI_API ni_ibconfig(int ud, int option, int value) {
    trace("ibconfig(" + number(ud) + "," + number(option) + "," + number(value) + ")");
    Bus::Session *session = niSession("ibconfig", ud);
    if (session == nullptr) {
        setStatus(kErr, kEDVR, 0);
        return exportedStatus;
    }
    if (option == kOptionSwapBytes && value == 0 && theBus.swapOffFails) {
        setStatus(kErr, kEARG, 0);
        return exportedStatus;
    }
    if (option == kOptionSwapBytes) session->swapBytes = value != 0;
    setStatus(kCmpl, 0, 0);
    return exportedStatus;
}

int VENDOR_NI_API ni_ibdev(int board, int pad, int sad, int tmo, int eot, int eos) {
    trace("ibdev(" + number(board) + "," + number(pad) + "," + number(sad) + "," + number(tmo) + "," +
          number(eot) + "," + number(eos) + ")");
    if (theBus.niBoards.count(board) == 0 || theBus.niDeviceFails) {
        setStatus(kErr, kEDVR, 0);
        return -1;
    }
    int ud = theBus.nextNiDevice++;
    Bus::Session session;
    session.device = true;
    session.address = pad;
    theBus.niDescriptors[ud] = session;
    setStatus(kCmpl, 0, 0);
    return ud;
}

int VENDOR_NI_API ni_ibeot(int ud, int v) {
    trace("ibeot(" + number(ud) + "," + number(v) + ")");
    setStatus(niSession("ibeot", ud) != nullptr ? kCmpl : kErr, 0, 0);
    return exportedStatus;
}

int VENDOR_NI_API ni_ibfindA(const char *name) {
    std::string text = name != nullptr ? name : "(null)";
    trace("ibfindA(" + text + ")");
    int board = -1;
    if (text.size() > 4 && text.compare(0, 4, "gpib") == 0) {
        char *end = nullptr;
        long index = std::strtol(text.c_str() + 4, &end, 10);
        if (*end == '\0' && theBus.niBoards.count(static_cast<int>(index)) != 0) board = static_cast<int>(index);
    }
    if (board < 0) {
        setStatus(kErr, kEDVR, 0);
        return -1;
    }
    // A board's descriptor is its index, as the real driver hands them out.
    theBus.niDescriptors[board] = Bus::Session();
    setStatus(kCmpl, 0, 0);
    return board;
}

int VENDOR_NI_API ni_ibloc(int ud) {
    trace("ibloc(" + number(ud) + ")");
    setStatus(niSession("ibloc", ud) != nullptr ? kCmpl : kErr, 0, 0);
    return exportedStatus;
}

int VENDOR_NI_API ni_ibonl(int ud, int v) {
    trace("ibonl(" + number(ud) + "," + number(v) + ")");
    if (niSession("ibonl", ud) == nullptr) {
        setStatus(kErr, kEDVR, 0);
        return exportedStatus;
    }
    if (v == 0) theBus.niDescriptors.erase(ud);
    setStatus(kCmpl, 0, 0);
    return exportedStatus;
}

int VENDOR_NI_API ni_ibrd(int ud, void *buf, long count) {
    trace("ibrd(" + number(ud) + "," + number(count) + ")");
    Bus::Session *session = niSession("ibrd", ud);
    Device *device = session != nullptr ? deviceAt(session->address) : nullptr;
    bool answered = false;
    unsigned long got = readReply(device, static_cast<char *>(buf), count > 0 ? static_cast<unsigned long>(count) : 0,
                                  &answered);
    if (answered) {
        setStatus(kEnd | kCmpl, 0, static_cast<long>(got));
    } else {
        setStatus(kErr | kTimo | kCmpl, kEABO, 0);
    }
    return exportedStatus;
}

int VENDOR_NI_API ni_ibtmo(int ud, int v) {
    trace("ibtmo(" + number(ud) + "," + number(v) + ")");
    setStatus(niSession("ibtmo", ud) != nullptr ? kCmpl : kErr, 0, 0);
    return exportedStatus;
}

int VENDOR_NI_API ni_ibwrt(int ud, const void *buf, long count) {
    Bus::Session *session = niSession("ibwrt", ud);
    std::string bytes(static_cast<const char *>(buf), count > 0 ? static_cast<std::size_t>(count) : 0);
    bool samples = session != nullptr && session->swapBytes;
    trace("ibwrt(" + number(ud) + "," + (samples ? "<" + number(count) + " bytes>" : quoted(bytes)) + ")");
    Device *device = session != nullptr ? deviceAt(session->address) : nullptr;
    bool chosenToFail = writeFails(device);
    if (device == nullptr || !device->answers || (samples && sampleWriteFails()) || chosenToFail) {
        noteFailedWrite(device);
        setStatus(kErr | kCmpl, device == nullptr || !device->answers ? kENOL : kEABO, 0);
        return exportedStatus;
    }
    if (samples) {
        for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) std::swap(bytes[i], bytes[i + 1]);
    }
    device->received += bytes;
    setStatus(kCmpl, 0, count);
    return exportedStatus;
}

// ---- SICL ---------------------------------------------------------------

Bus::Session *siclSession(const char *entry, int id) {
    if (id == 0) {
        fault(std::string(entry) + " called with id 0");
        return nullptr;
    }
    auto found = theBus.siclSessions.find(id);
    if (found == theBus.siclSessions.end()) {
        fault(std::string(entry) + " on id " + number(id) + " that is not open");
        return nullptr;
    }
    return &found->second;
}

Device *siclDevice(Bus::Session *session) {
    return session != nullptr && session->device ? deviceAt(session->address) : nullptr;
}

int VENDOR_SICL_API sicl_iopen(const char *addr) {
    std::string text = addr != nullptr ? addr : "(null)";
    trace("iopen(" + text + ")");
    std::string::size_type comma = text.find(',');
    std::string interfaceName = text.substr(0, comma);
    if (theBus.siclInterfaces.count(interfaceName) == 0) return 0;
    Bus::Session session;
    if (comma != std::string::npos) {
        std::string digits = text.substr(comma + 1);
        char *end = nullptr;
        long address = std::strtol(digits.c_str(), &end, 10);
        if (digits.empty() || *end != '\0' || address < 0 || address > 31) return 0;
        if (theBus.siclOpenFailsAt.count(static_cast<int>(address)) != 0) return 0;
        session.device = true;
        session.address = static_cast<int>(address);
    }
    int id = theBus.nextSiclId++;
    theBus.siclSessions[id] = session;
    return id;
}

int VENDOR_SICL_API sicl_iclose(int id) {
    trace("iclose(" + number(id) + ")");
    if (siclSession("iclose", id) == nullptr) return kSiclBadId;
    theBus.siclSessions.erase(id);
    return kSiclNoError;
}

int VENDOR_SICL_API sicl_iwrite(int id, const char *buf, unsigned long count, int end, unsigned long *actual) {
    std::string bytes(buf, count);
    trace("iwrite(" + number(id) + "," + quoted(bytes) + "," + number(static_cast<long long>(count)) + "," +
          number(end) + ")");
    Device *device = siclDevice(siclSession("iwrite", id));
    if (actual != nullptr) *actual = 0;
    bool chosenToFail = writeFails(device);
    if (device == nullptr || !device->answers || chosenToFail) {
        noteFailedWrite(device);
        return chosenToFail ? device->siclFailResult : kSiclTimeout;
    }
    device->received += bytes;
    if (actual != nullptr) *actual = count;
    return kSiclNoError;
}

int VENDOR_SICL_API sicl_iclear(int id) {
    trace("iclear(" + number(id) + ")");
    Bus::Session *session = siclSession("iclear", id);
    if (session == nullptr) return kSiclBadId;
    Device *device = siclDevice(session);
    if (device != nullptr) ++device->clears;
    return kSiclNoError;
}

int VENDOR_SICL_API sicl_itimeout(int id, long ms) {
    trace("itimeout(" + number(id) + "," + number(ms) + ")");
    return siclSession("itimeout", id) != nullptr ? kSiclNoError : kSiclBadId;
}

int VENDOR_SICL_API sicl_iread(int id, char *buf, unsigned long max, int *reason, unsigned long *actual) {
    trace("iread(" + number(id) + "," + number(static_cast<long long>(max)) + ")");
    Device *device = siclDevice(siclSession("iread", id));
    bool answered = false;
    unsigned long got = readReply(device, buf, max, &answered);
    if (actual != nullptr) *actual = got;
    if (reason != nullptr) *reason = answered ? kSiclReasonEnd : 0;
    return answered ? kSiclNoError : kSiclTimeout;
}

int VENDOR_SICL_API sicl_ilocal(int id) {
    trace("ilocal(" + number(id) + ")");
    return siclSession("ilocal", id) != nullptr ? kSiclNoError : kSiclBadId;
}

// Formats the conversions the system uses: %s, %d, %% and "%*wb" (a count and
// an array of 16-bit words, sent as a definite-length block, most significant
// byte first). Like every SICL entry it returns 0 when all went out and an
// error number otherwise, never a count of what was written.
int VENDOR_SICL_API sicl_iprintf(int id, const char *format, ...) {
    std::string line = "iprintf(" + number(id) + "," + quoted(format != nullptr ? format : "") ;
    std::string output;
    bool block = false;
    va_list args;
    va_start(args, format);
    for (const char *p = format; p != nullptr && *p != '\0'; ++p) {
        if (*p != '%') {
            output += *p;
            continue;
        }
        ++p;
        if (*p == '%') {
            output += '%';
        } else if (*p == 's') {
            const char *text = va_arg(args, const char *);
            line += "," + quoted(text);
            output += text;
        } else if (*p == 'd') {
            int value = va_arg(args, int);
            line += "," + number(value);
            output += number(value);
        } else if (std::strncmp(p, "*wb", 3) == 0) {
            p += 2;
            int count = va_arg(args, int);
            const unsigned char *words = va_arg(args, const unsigned char *);
            line += "," + number(count);
            std::string bytes = number(2LL * count);
            output += "#" + number(static_cast<long long>(bytes.size())) + bytes;
            for (int i = 0; i < count; ++i) {
                // Host order is little-endian here; the bus wants the high byte first.
                output += static_cast<char>(words[2 * i + 1]);
                output += static_cast<char>(words[2 * i]);
            }
            block = true;
        } else {
            fault(std::string("iprintf with a conversion the fake does not know: %") + *p);
            break;
        }
    }
    va_end(args);
    trace(line + ")");
    Device *device = siclDevice(siclSession("iprintf", id));
    bool chosenToFail = writeFails(device);
    bool sampleFails = block && sampleWriteFails();
    if (device == nullptr || !device->answers || sampleFails || chosenToFail) {
        noteFailedWrite(device);
        return device != nullptr && (sampleFails || chosenToFail) ? device->siclFailResult : kSiclNoConnection;
    }
    device->received += output;
    return kSiclNoError;
}

}  // namespace

Bus &bus() { return theBus; }

void reset() {
    theBus = Bus();
    setStatus(0, 0, 0);
    setNotice(kNi488Notice);
}

Device &addDevice(int address, const std::string &reply) {
    Device &device = theBus.devices[address];
    device.reply = reply;
    return device;
}

std::string kvrReply() { return "KVR Instruments,KVR-D 2470A,0,1.0"; }

std::string quoted(const std::string &bytes) {
    std::string text = "\"";
    for (unsigned char c : bytes) {
        if (c == '"' || c == '\\') {
            text += '\\';
            text += static_cast<char>(c);
        } else if (c == '\n') {
            text += "\\n";
        } else if (c == '\r') {
            text += "\\r";
        } else if (c < 0x20 || c >= 0x7f) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            text += escaped;
        } else {
            text += static_cast<char>(c);
        }
    }
    return text + "\"";
}

void setNotice(const std::string &text, bool terminated, bool readOnly) {
    if (noticePages == nullptr) {
        pageSize = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        void *pages = mmap(nullptr, 2 * pageSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (pages == MAP_FAILED) {
            std::perror("fake driver: mmap");
            std::abort();
        }
        noticePages = static_cast<char *>(pages);
        mprotect(noticePages + pageSize, pageSize, PROT_NONE);
    }
    mprotect(noticePages, pageSize, PROT_READ | PROT_WRITE);
    std::memset(noticePages, 'Z', pageSize);
    std::size_t bytes = text.size() + (terminated ? 1 : 0);
    noticeStart = noticePages + pageSize - bytes;
    std::memcpy(noticeStart, text.data(), text.size());
    if (terminated) noticeStart[text.size()] = '\0';
    if (readOnly) mprotect(noticePages, pageSize, PROT_READ);
    // A driver already installed shows the new notice at its export.
    auto installed = fakekernel::kernel().libraries.find(niLibraryPath());
    if (installed != fakekernel::kernel().libraries.end()) {
        auto symbol = installed->second.symbols.find(kNiNoticeExport);
        if (symbol != installed->second.symbols.end()) symbol->second = noticeStart;
    }
}

std::string noticeNow(std::size_t length) { return std::string(noticeStart, length); }

// Each entry goes in under the name the vendor exports it by; the module's
// slot type is asked for only to check that the fake fits it.
template <typename Slot, typename Entry>
void *entryAddress(Entry *entry) {
    static_assert(std::is_same<Slot *, Entry *>::value, "the fake entry does not fit the module's slot");
    return reinterpret_cast<void *>(entry);
}

std::map<std::string, void *> niSymbols() {
    return {{"ibclr", entryAddress<Ni488_ibclr>(&ni_ibclr)},
            {"ibconfig", entryAddress<Ni488_ibconfig>(&ni_ibconfig)},
            {"ibdev", entryAddress<Ni488_ibdev>(&ni_ibdev)},
            {"ibeot", entryAddress<Ni488_ibeot>(&ni_ibeot)},
            {"ibfindA", entryAddress<Ni488_ibfindA>(&ni_ibfindA)},
            {"ibloc", entryAddress<Ni488_ibloc>(&ni_ibloc)},
            {"ibonl", entryAddress<Ni488_ibonl>(&ni_ibonl)},
            {"ibrd", entryAddress<Ni488_ibrd>(&ni_ibrd)},
            {"ibtmo", entryAddress<Ni488_ibtmo>(&ni_ibtmo)},
            {"ibwrt", entryAddress<Ni488_ibwrt>(&ni_ibwrt)},
            {kNiStatusExport, &exportedStatus},
            {kNiErrorExport, &exportedError},
            {kNiCountExport, &exportedCount},
            {kNiNoticeExport, noticeStart}};
}

std::map<std::string, void *> siclSymbols() {
    return {{"iopen", entryAddress<Sicl_iopen>(&sicl_iopen)},
            {"iclose", entryAddress<Sicl_iclose>(&sicl_iclose)},
            {"iwrite", entryAddress<Sicl_iwrite>(&sicl_iwrite)},
            {"iclear", entryAddress<Sicl_iclear>(&sicl_iclear)},
            {"itimeout", entryAddress<Sicl_itimeout>(&sicl_itimeout)},
            {"iread", entryAddress<Sicl_iread>(&sicl_iread)},
            {"ilocal", entryAddress<Sicl_ilocal>(&sicl_ilocal)},
            {"iprintf", entryAddress<Sicl_iprintf>(&sicl_iprintf)}};
}

std::string niLibraryPath() { return fakekernel::systemPath(kNiFile); }
std::string siclLibraryPath() { return fakekernel::systemPath(kSiclFile); }

void installNi() {
    fakekernel::addLibrary(niLibraryPath(), niSymbols());
    fakekernel::kernel().presentFiles.insert(niLibraryPath());
}

void installSicl() {
    fakekernel::addLibrary(siclLibraryPath(), siclSymbols());
    fakekernel::kernel().presentFiles.insert(siclLibraryPath());
}

int openSiclSessions() { return static_cast<int>(theBus.siclSessions.size()); }
int onlineNiDescriptors() { return static_cast<int>(theBus.niDescriptors.size()); }

}  // namespace fakebus
