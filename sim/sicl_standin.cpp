// sicl32.dll: the SICL library's entries, a thin layer over the simulated bus.
// Sessions are ids into one table; each entry traces itself and refreshes the
// status file when it returns.
#include <cstdarg>
#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "sim/sicl_interface.h"
#include "sim/sim.h"

namespace {

using namespace sicl;

enum { kSessionLimit = 1024 };  // ids 1..kSessionLimit
enum { kNoAddress = -1 };        // an interface session
// Sessions start with a long timeout, so that a missing itimeout shows up as
// a slow run rather than a hang; 0 ms waits as long as the simulator allows.
const long kDefaultTimeoutMilliseconds = 10000;
const long kForeverMilliseconds = 1000000;

struct Session {
    bool open;
    std::string interfaceName;
    int address;
    long timeoutMilliseconds;
};

struct SiclLibrary {
    sim::SimBus bus;
    Session sessions[kSessionLimit + 1];  // index 0 unused: 0 is never an id
};

SiclLibrary library;

std::vector<std::string> openHandles() {
    std::vector<std::string> handles;
    for (int id = 1; id <= kSessionLimit; ++id) {
        const Session &s = library.sessions[id];
        if (!s.open) continue;
        if (s.address == kNoAddress)
            handles.push_back(std::to_string(id) + " interface " + s.interfaceName);
        else
            handles.push_back(std::to_string(id) + " device " + s.interfaceName + " " +
                              std::to_string(s.address));
    }
    return handles;
}

// Counts loads and unloads of this library in the status file.
struct Lifetime {
    Lifetime() { sim::loadBus(library.bus, SIM_SICL_LIBRARY_FILE); }
    ~Lifetime() { sim::unloadBus(library.bus, openHandles()); }
};
Lifetime lifetime;

// The exit of every entry: its trace line and the status file.
int finish(const std::string &call, int result, const std::string &outputs = std::string()) {
    sim::traceLine(library.bus, call + " = " + std::to_string(result) + outputs);
    sim::finishCall(library.bus, openHandles());
    return result;
}

Session *findSession(int id) {
    if (id < 1 || id > kSessionLimit || !library.sessions[id].open) return nullptr;
    return &library.sessions[id];
}

// The device a session addresses, or null for an interface session.
sim::SimDevice *sessionDevice(const Session &s, sim::SimInterface **interface) {
    *interface = sim::findInterface(library.bus, s.interfaceName);
    if (*interface == nullptr || s.address == kNoAddress) return nullptr;
    return sim::deviceAt(**interface, s.address);
}

int deviceResult(sim::DeviceResult result) {
    switch (result) {
    case sim::kDeviceOk: return kErrNoError;
    case sim::kDeviceNoListener: return kErrNoConnection;
    case sim::kDeviceTimeout: return kErrTimeout;
    case sim::kDeviceIoError: return kErrIo;
    }
    return kErrNotSupported;
}

std::string trimmed(const std::string &text) {
    std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return std::string();
    std::size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

long long sessionTimeoutMicroseconds(const Session &s) {
    long ms = s.timeoutMilliseconds == 0 ? kForeverMilliseconds : s.timeoutMilliseconds;
    return ms * 1000LL;
}

// "name" or "name,address" with a described interface name and an address 0..30.
bool parseAddress(const char *text, std::string *interfaceName, int *address) {
    std::string value(text);
    std::size_t comma = value.find(',');
    *interfaceName = trimmed(value.substr(0, comma));
    *address = kNoAddress;
    if (sim::findInterface(library.bus, *interfaceName) == nullptr) return false;
    if (comma == std::string::npos) return true;
    std::string digits = trimmed(value.substr(comma + 1));
    if (digits.empty() || digits.size() > 2 || digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    *address = std::stoi(digits);
    return *address < sim::kAddressCount;
}

// Sends formatted output to the session's device: an error number, 0 when
// the device took all of it.
int sendFormatted(int id, const std::string &bytes) {
    Session *s = findSession(id);
    if (s == nullptr) return kErrBadId;
    sim::SimInterface *interface = nullptr;
    sim::SimDevice *device = sessionDevice(*s, &interface);
    if (device == nullptr) return kErrNotSupported;
    // A newline at the end of the output goes with END, as the library's
    // formatted writes flush on it.
    bool end = !bytes.empty() && bytes.back() == '\n';
    return deviceResult(sim::writeDevice(library.bus, *interface, s->address, bytes.data(), bytes.size(), end,
                                         sessionTimeoutMicroseconds(*s)));
}

}  // namespace

SIM_SICL_EXPORT int SIM_SICL_CALL iopen(const char *addr) {
    std::string call = "iopen(" + sim::quoteText(addr) + ")";
    std::string interfaceName;
    int address = kNoAddress;
    if (addr == nullptr || !parseAddress(addr, &interfaceName, &address)) return finish(call, 0);
    for (int id = 1; id <= kSessionLimit; ++id) {
        Session &s = library.sessions[id];
        if (s.open) continue;
        s.open = true;
        s.interfaceName = interfaceName;
        s.address = address;
        s.timeoutMilliseconds = kDefaultTimeoutMilliseconds;
        return finish(call, id);
    }
    return finish(call, 0);
}

SIM_SICL_EXPORT int SIM_SICL_CALL iclose(int id) {
    std::string call = "iclose(" + std::to_string(id) + ")";
    Session *s = findSession(id);
    if (s == nullptr) return finish(call, kErrBadId);
    s->open = false;
    return finish(call, kErrNoError);
}

SIM_SICL_EXPORT int SIM_SICL_CALL iwrite(int id, const char *buf, unsigned long count, int end,
                                 unsigned long *actual) {
    sim::startDataCall(library.bus);
    std::string call = "iwrite(" + std::to_string(id) + "," + sim::tracePayload(buf, count) + "," +
                       std::to_string(count) + "," + std::to_string(end) + ")";
    if (actual != nullptr) *actual = 0;
    Session *s = findSession(id);
    if (s == nullptr) return finish(call, kErrBadId);
    if (buf == nullptr && count > 0) return finish(call, kErrParameter);
    sim::SimInterface *interface = nullptr;
    sim::SimDevice *device = sessionDevice(*s, &interface);
    if (device == nullptr) return finish(call, kErrNotSupported);
    int result = deviceResult(
        sim::writeDevice(library.bus, *interface, s->address, buf, count, end != 0, sessionTimeoutMicroseconds(*s)));
    unsigned long sent = result == kErrNoError ? count : 0;
    if (actual != nullptr) *actual = sent;
    return finish(call, result, " actual=" + std::to_string(sent));
}

SIM_SICL_EXPORT int SIM_SICL_CALL iclear(int id) {
    std::string call = "iclear(" + std::to_string(id) + ")";
    Session *s = findSession(id);
    if (s == nullptr) return finish(call, kErrBadId);
    sim::SimInterface *interface = nullptr;
    sim::SimDevice *device = sessionDevice(*s, &interface);
    if (device == nullptr) return finish(call, kErrNoError);  // an interface clear: nothing to reset
    return finish(call, deviceResult(sim::clearDevice(library.bus, *device)));
}

SIM_SICL_EXPORT int SIM_SICL_CALL itimeout(int id, long ms) {
    std::string call = "itimeout(" + std::to_string(id) + "," + std::to_string(ms) + ")";
    Session *s = findSession(id);
    if (s == nullptr) return finish(call, kErrBadId);
    if (ms < 0) return finish(call, kErrParameter);
    s->timeoutMilliseconds = ms;
    return finish(call, kErrNoError);
}

SIM_SICL_EXPORT int SIM_SICL_CALL iread(int id, char *buf, unsigned long max, int *reason, unsigned long *actual) {
    sim::startDataCall(library.bus);
    std::string call = "iread(" + std::to_string(id) + "," + std::to_string(max) + ")";
    if (reason != nullptr) *reason = 0;
    if (actual != nullptr) *actual = 0;
    Session *s = findSession(id);
    if (s == nullptr) return finish(call, kErrBadId);
    if (buf == nullptr && max > 0) return finish(call, kErrParameter);
    sim::SimInterface *interface = nullptr;
    sim::SimDevice *device = sessionDevice(*s, &interface);
    if (device == nullptr) return finish(call, kErrNotSupported);
    std::size_t received = 0;
    bool end = false;
    int result = deviceResult(
        sim::readDevice(library.bus, *device, buf, max, sessionTimeoutMicroseconds(*s), &received, &end));
    if (result != kErrNoError) return finish(call, result);
    int why = end ? kReasonEnd : kReasonRequestCount;
    if (reason != nullptr) *reason = why;
    if (actual != nullptr) *actual = received;
    return finish(call, result,
                  " reason=" + std::to_string(why) + " actual=" + std::to_string(received) + " " +
                      sim::tracePayload(buf, received));
}

SIM_SICL_EXPORT int SIM_SICL_CALL ilocal(int id) {
    std::string call = "ilocal(" + std::to_string(id) + ")";
    Session *s = findSession(id);
    if (s == nullptr) return finish(call, kErrBadId);
    sim::SimInterface *interface = nullptr;
    sim::SimDevice *device = sessionDevice(*s, &interface);
    if (device == nullptr) return finish(call, kErrNoError);
    return finish(call, deviceResult(sim::localDevice(*device)));
}

// Formatted output: literal text, "%%", "%s", "%d" and "%*wb" (a count from
// the arguments, then that many 16-bit words sent most significant byte first
// as a definite-length block). Returns 0 when all of it was formatted and
// the device took it, or an error number: a closed session, a format it
// cannot do (nothing is sent then), or what the device's write gave.
SIM_SICL_EXPORT int SIM_SICL_CALL iprintf(int id, const char *format, ...) {
    sim::startDataCall(library.bus);
    std::string call = "iprintf(" + std::to_string(id) + "," + sim::quoteText(format);
    if (findSession(id) == nullptr) return finish(call + ")", kErrBadId);
    if (format == nullptr) return finish(call + ")", kErrParameter);
    std::string output;
    int result = kErrNoError;
    va_list arguments;
    va_start(arguments, format);
    for (const char *p = format; *p != '\0' && result == kErrNoError; ++p) {
        if (*p != '%') {
            output += *p;
            continue;
        }
        ++p;
        if (*p == '%') {
            output += '%';
        } else if (*p == 's') {
            const char *text = va_arg(arguments, const char *);
            call += "," + sim::quoteText(text);
            if (text == nullptr) result = kErrParameter;
            else output += text;
        } else if (*p == 'd') {
            int value = va_arg(arguments, int);
            call += "," + std::to_string(value);
            output += std::to_string(value);
        } else if (p[0] == '*' && p[1] == 'w' && p[2] == 'b') {
            p += 2;
            int count = va_arg(arguments, int);
            const std::int16_t *words = va_arg(arguments, const std::int16_t *);
            if (count < 0 || (words == nullptr && count > 0)) {
                call += "," + std::to_string(count) + "," + (words == nullptr ? "null" : "<words>");
                result = kErrParameter;
                break;
            }
            // The block is formatted straight into the output, with no copy
            // of it on the way, so that the stand-in's own memory traffic
            // (which pushes the caller's data out of the cache) stays near
            // what a driver's is.
            std::size_t bytes = 2 * static_cast<std::size_t>(count);
            std::string size = std::to_string(bytes);
            output += "#" + std::to_string(size.size()) + size;
            std::size_t dataStart = output.size();
            output.resize(dataStart + bytes);
            for (int i = 0; i < count; ++i) {
                std::uint16_t word = static_cast<std::uint16_t>(words[i]);
                output[dataStart + 2 * static_cast<std::size_t>(i)] = static_cast<char>(word >> 8);
                output[dataStart + 2 * static_cast<std::size_t>(i) + 1] = static_cast<char>(word & 0xff);
            }
            call += "," + std::to_string(count) + "," + sim::tracePayload(output.data() + dataStart, bytes);
        } else {
            result = kErrBadFormat;
        }
    }
    va_end(arguments);
    call += ")";
    if (result == kErrNoError) result = sendFormatted(id, output);
    return finish(call, result);
}

// Each entry has the type the library's interface gives it.
static_assert(std::is_same<decltype(&iopen), Iopen *>::value, "iopen");
static_assert(std::is_same<decltype(&iclose), Iclose *>::value, "iclose");
static_assert(std::is_same<decltype(&iwrite), Iwrite *>::value, "iwrite");
static_assert(std::is_same<decltype(&iclear), Iclear *>::value, "iclear");
static_assert(std::is_same<decltype(&itimeout), Itimeout *>::value, "itimeout");
static_assert(std::is_same<decltype(&iread), Iread *>::value, "iread");
static_assert(std::is_same<decltype(&ilocal), Ilocal *>::value, "ilocal");
static_assert(std::is_same<decltype(&iprintf), Iprintf *>::value, "iprintf");
