// The simulated bus: its description file, the trace of driver calls and the
// status file that tells tests what is loaded and open.
#include "sim/sim.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace sim {
namespace {

namespace fs = std::filesystem;

const char kStatusSuffix[] = ".status";

std::string trim(const std::string &text) {
    std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return std::string();
    std::size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

// Splits off the first word of text; the rest is left in text, trimmed.
std::string takeWord(std::string &text) {
    text = trim(text);
    std::size_t space = text.find_first_of(" \t");
    std::string word = text.substr(0, space);
    text = space == std::string::npos ? std::string() : trim(text.substr(space));
    return word;
}

bool parseNumber(const std::string &text, long long *value) {
    if (text.empty() || text.size() > 18) return false;
    long long result = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        result = result * 10 + (c - '0');
    }
    *value = result;
    return true;
}

std::string resolvePath(const std::string &baseFolder, const std::string &path) {
    if (path.empty() || fs::path(path).is_absolute() || baseFolder.empty()) return path;
    return (fs::path(baseFolder) / path).string();
}

const char *const kDefaultIdentity[] = {
    "",                                              // no device
    "KVR Instruments,KVR-D K2073D,0000731,2.0",      // the instrument
    "Oberon Labs,OL-3320 Frequency Counter,1138,1.4",  // someone else's
    "",                                              // never answers
};

void addProblem(SimBus &bus, int lineNumber, const std::string &what) {
    bus.problems.push_back("line " + std::to_string(lineNumber) + ": " + what);
}

// ---- one handler per description key --------------------------------------
//
// Each takes the rest of the line after the key. A new key is one more
// handler and one more row in kKeys.

typedef void KeyHandler(SimBus &bus, std::string rest, const std::string &baseFolder,
                        int lineNumber);

void keyInterface(SimBus &bus, std::string rest, const std::string &, int lineNumber) {
    std::string name = takeWord(rest);
    if (name.empty() || !rest.empty()) {
        addProblem(bus, lineNumber, "interface wants one name");
        return;
    }
    if (findInterface(bus, name) != nullptr) {
        addProblem(bus, lineNumber, "interface " + name + " is described twice");
        return;
    }
    bus.interfaces.emplace_back();
    bus.interfaces.back().name = name;
    for (SimDevice &device : bus.interfaces.back().devices) {
        device.kind = kNoDevice;
        resetDevice(device);
    }
}

void keyDevice(SimBus &bus, std::string rest, const std::string &, int lineNumber) {
    std::string interfaceName = takeWord(rest);
    std::string addressText = takeWord(rest);
    std::string kindName = takeWord(rest);
    SimInterface *interface = findInterface(bus, interfaceName);
    long long address = -1;
    if (interface == nullptr) {
        addProblem(bus, lineNumber, "device on an undescribed interface \"" + interfaceName + "\"");
        return;
    }
    if (!parseNumber(addressText, &address) || address >= kAddressCount) {
        addProblem(bus, lineNumber, "device address \"" + addressText + "\" is not 0..30");
        return;
    }
    DeviceKind kind = kNoDevice;
    if (kindName == "kvr") kind = kKvrDevice;
    else if (kindName == "foreign") kind = kForeignDevice;
    else if (kindName == "silent") kind = kSilentDevice;
    else {
        addProblem(bus, lineNumber, "unknown device kind \"" + kindName + "\"");
        return;
    }
    SimDevice &device = interface->devices[address];
    device.kind = kind;
    device.identity = rest.empty() ? kDefaultIdentity[kind] : rest;
    resetDevice(device);
}

void keyStore(SimBus &bus, std::string rest, const std::string &baseFolder, int) {
    bus.storeFolder = resolvePath(baseFolder, rest);
}

void keyTrace(SimBus &bus, std::string rest, const std::string &baseFolder, int) {
    bus.traceFile = resolvePath(baseFolder, rest);
}

void keyStatus(SimBus &bus, std::string rest, const std::string &baseFolder, int) {
    bus.statusFolder = resolvePath(baseFolder, rest);
}

void keyWire(SimBus &bus, std::string rest, const std::string &, int lineNumber) {
    long long rate = 0;
    if (!parseNumber(rest, &rate)) {
        addProblem(bus, lineNumber, "wire wants bytes per second");
        return;
    }
    bus.wireBytesPerSecond = rate;
}

// ---- the fault key: one handler per fault kind ----------------------------
//
// Each takes the rest of the line after the kind.

typedef void FaultHandler(SimBus &bus, std::string rest, int lineNumber);

// The device a fault names by interface and address; it must be described
// before the fault.
SimDevice *faultDevice(SimBus &bus, std::string &rest, int lineNumber, SimInterface **interface) {
    std::string interfaceName = takeWord(rest);
    std::string addressText = takeWord(rest);
    long long address = -1;
    *interface = findInterface(bus, interfaceName);
    if (*interface == nullptr || !parseNumber(addressText, &address) || address >= kAddressCount ||
        (*interface)->devices[address].kind == kNoDevice) {
        addProblem(bus, lineNumber, "fault on an undescribed device \"" + interfaceName + " " + addressText + "\"");
        return nullptr;
    }
    return &(*interface)->devices[address];
}

bool takeMemory(SimBus &bus, std::string &rest, int lineNumber, std::string *memory) {
    *memory = takeWord(rest);
    if (*memory == "arbi" || *memory == "arbq") return true;
    addProblem(bus, lineNumber, "fault memory \"" + *memory + "\" is not arbi or arbq");
    return false;
}

void faultBlockTimeout(SimBus &bus, std::string rest, int lineNumber) {
    SimInterface *interface = nullptr;
    SimDevice *device = faultDevice(bus, rest, lineNumber, &interface);
    std::string memory;
    if (device == nullptr || !takeMemory(bus, rest, lineNumber, &memory)) return;
    long long after = 0;
    long long waitMs = -1;
    bool understood = parseNumber(takeWord(rest), &after);
    if (understood && !rest.empty()) understood = parseNumber(takeWord(rest), &waitMs) && rest.empty();
    if (!understood) {
        addProblem(bus, lineNumber, "block-timeout wants BYTES [WAIT_MS]");
        return;
    }
    device->faults.stallMemory = memory;
    device->faults.stallAfter = static_cast<std::size_t>(after);
    device->faults.stallWaitMicroseconds = waitMs < 0 ? -1 : waitMs * 1000;
}

void faultBlockRefused(SimBus &bus, std::string rest, int lineNumber) {
    SimInterface *interface = nullptr;
    SimDevice *device = faultDevice(bus, rest, lineNumber, &interface);
    std::string memory;
    if (device == nullptr || !takeMemory(bus, rest, lineNumber, &memory)) return;
    device->faults.refusedMemory = memory;
}

void faultHeaderRefused(SimBus &bus, std::string rest, int lineNumber) {
    SimInterface *interface = nullptr;
    SimDevice *device = faultDevice(bus, rest, lineNumber, &interface);
    std::string memory;
    if (device == nullptr || !takeMemory(bus, rest, lineNumber, &memory)) return;
    device->faults.headerRefusedMemory = memory;
}

void faultReadFails(SimBus &bus, std::string rest, int lineNumber) {
    SimInterface *interface = nullptr;
    SimDevice *device = faultDevice(bus, rest, lineNumber, &interface);
    if (device != nullptr) device->faults.readFails = true;
}

void faultUnterminated(SimBus &bus, std::string rest, int lineNumber) {
    SimInterface *interface = nullptr;
    SimDevice *device = faultDevice(bus, rest, lineNumber, &interface);
    if (device != nullptr) device->faults.unterminated = true;
}

void faultAlsoAnswers(SimBus &bus, std::string rest, int lineNumber) {
    SimInterface *interface = nullptr;
    SimDevice *device = faultDevice(bus, rest, lineNumber, &interface);
    if (device == nullptr) return;
    std::string otherText = takeWord(rest);
    long long other = -1;
    if (!parseNumber(otherText, &other) || other >= kAddressCount || interface->devices[other].kind != kNoDevice ||
        homeAddress(*interface, static_cast<int>(other)) != other) {
        addProblem(bus, lineNumber, "also-answers wants a free address, not \"" + otherText + "\"");
        return;
    }
    interface->alsoAnswers[device - interface->devices].push_back(static_cast<int>(other));
}

void faultNoticeShort(SimBus &bus, std::string, int) { bus.noticeFault = kNoticeShort; }
void faultNoticeUnterminated(SimBus &bus, std::string, int) { bus.noticeFault = kNoticeUnterminated; }

struct FaultRow {
    const char *kind;
    FaultHandler *handler;
};
const FaultRow kFaults[] = {
    {"block-timeout", faultBlockTimeout},
    {"block-refused", faultBlockRefused},
    {"header-refused", faultHeaderRefused},
    {"read-fails", faultReadFails},
    {"unterminated", faultUnterminated},
    {"also-answers", faultAlsoAnswers},
    {"notice-short", faultNoticeShort},
    {"notice-unterminated", faultNoticeUnterminated},
};

void keyFault(SimBus &bus, std::string rest, const std::string &, int lineNumber) {
    std::string kind = takeWord(rest);
    for (const FaultRow &row : kFaults) {
        if (kind != row.kind) continue;
        row.handler(bus, rest, lineNumber);
        return;
    }
    addProblem(bus, lineNumber, "unknown fault \"" + kind + "\"");
}

struct KeyRow {
    const char *key;
    KeyHandler *handler;
};
const KeyRow kKeys[] = {
    {"interface", keyInterface}, {"device", keyDevice}, {"store", keyStore},
    {"trace", keyTrace},         {"status", keyStatus}, {"wire", keyWire},
    {"fault", keyFault},
};

std::string statusPath(const SimBus &bus) {
    return (fs::path(bus.statusFolder) / (bus.library + kStatusSuffix)).string();
}

// Takes the counters of the status file an earlier load left, so that loads
// and unloads add up over the life of a test.
void readCounters(SimBus &bus) {
    std::ifstream file(statusPath(bus));
    std::string line;
    while (std::getline(file, line)) {
        std::string rest = line;
        std::string key = takeWord(rest);
        long long value = 0;
        if (!parseNumber(rest, &value)) continue;
        if (key == "loads") bus.loads = static_cast<long>(value);
        else if (key == "unloads") bus.unloads = static_cast<long>(value);
        else if (key == "left-open-at-unload") bus.leftOpenAtUnload = static_cast<long>(value);
        else if (key == "calls") bus.calls = static_cast<long>(value);
    }
}

void writeStatus(const SimBus &bus, const std::vector<std::string> &openHandles) {
    if (bus.statusFolder.empty()) return;
    std::error_code ignored;
    fs::create_directories(bus.statusFolder, ignored);
    std::ostringstream text;
    text << "library " << bus.library << "\n"
         << "bus " << bus.descriptionPath << "\n"
         << "loads " << bus.loads << "\n"
         << "unloads " << bus.unloads << "\n"
         << "left-open-at-unload " << bus.leftOpenAtUnload << "\n"
         << "calls " << bus.calls << "\n"
         << "open " << openHandles.size() << "\n";
    for (const std::string &handle : openHandles) text << "open-handle " << handle << "\n";
    for (const SimInterface &interface : bus.interfaces) {
        text << "interface " << interface.name << "\n";
        for (int address = 0; address < kAddressCount; ++address) {
            const SimDevice &device = interface.devices[address];
            if (device.kind == kNoDevice) continue;
            text << "device " << interface.name << " " << address << " "
                 << deviceKindName(device.kind) << " " << (device.remote ? "remote" : "local")
                 << " files=" << device.filesStored << " errors=" << device.errors.size()
                 << " input=" << inputState(device) << "\n";
            for (const std::string &error : device.errors)
                text << "device-error " << interface.name << " " << address << " " << error << "\n";
        }
    }
    for (const std::string &problem : bus.problems) text << "problem " << problem << "\n";
    // Written whole and renamed into place, so a reader never sees half a file.
    std::string path = statusPath(bus);
    std::string partial = path + ".new";
    {
        std::ofstream file(partial, std::ios::binary | std::ios::trunc);
        file << text.str();
    }
    fs::rename(partial, path, ignored);
}

}  // namespace

void parseBusDescription(SimBus &bus, const std::string &text, const std::string &baseFolder) {
    std::istringstream lines(text);
    std::string line;
    int lineNumber = 0;
    while (std::getline(lines, line)) {
        ++lineNumber;
        std::string rest = trim(line);
        if (rest.empty() || rest[0] == '#') continue;  // blank or a comment
        std::string key = takeWord(rest);
        bool known = false;
        for (const KeyRow &row : kKeys) {
            if (key != row.key) continue;
            row.handler(bus, rest, baseFolder, lineNumber);
            known = true;
            break;
        }
        if (!known) addProblem(bus, lineNumber, "unknown key \"" + key + "\"");
    }
}

namespace {

// The description's text, or false when it cannot be read.
bool readDescription(const std::string &path, std::string *text) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    std::ostringstream contents;
    contents << file.rdbuf();
    *text = contents.str();
    return true;
}

void parseDescriptionFile(SimBus &bus, const std::string &text) {
    bus.descriptionText = text;
    parseBusDescription(bus, text, fs::path(bus.descriptionPath).parent_path().string());
}

}  // namespace

void loadBus(SimBus &bus, const char *library) {
    bus.library = library;
    const char *path = std::getenv(SIM_BUS_VARIABLE);
    if (path != nullptr && *path != '\0') {
        bus.descriptionPath = path;
        std::string text;
        if (readDescription(path, &text))
            parseDescriptionFile(bus, text);
        else
            bus.problems.push_back(std::string("cannot read the bus description ") + path);
    }
    if (!bus.statusFolder.empty()) readCounters(bus);
    ++bus.loads;
    writeStatus(bus, std::vector<std::string>());
}

void refreshBus(SimBus &bus) {
    std::string text;
    if (bus.descriptionPath.empty() || !readDescription(bus.descriptionPath, &text) ||
        text == bus.descriptionText)
        return;
    bus.interfaces.clear();
    bus.storeFolder.clear();
    bus.traceFile.clear();
    bus.statusFolder.clear();
    bus.wireBytesPerSecond = 0;
    bus.problems.clear();
    bus.noticeFault = kNoticeAsShipped;
    parseDescriptionFile(bus, text);
}

void unloadBus(SimBus &bus, const std::vector<std::string> &openHandles) {
    ++bus.unloads;
    bus.leftOpenAtUnload += static_cast<long>(openHandles.size());
    writeStatus(bus, openHandles);
}

SimInterface *findInterface(SimBus &bus, const std::string &name) {
    for (SimInterface &interface : bus.interfaces)
        if (interface.name == name) return &interface;
    return nullptr;
}

SimDevice *deviceAt(SimInterface &interface, int address) {
    if (address < 0 || address >= kAddressCount) return nullptr;
    return &interface.devices[homeAddress(interface, address)];
}

int homeAddress(const SimInterface &interface, int address) {
    for (int home = 0; home < kAddressCount; ++home)
        for (int other : interface.alsoAnswers[home])
            if (other == address) return home;
    return address;
}

const char *deviceKindName(DeviceKind kind) {
    switch (kind) {
    case kKvrDevice: return "kvr";
    case kForeignDevice: return "foreign";
    case kSilentDevice: return "silent";
    case kNoDevice: break;
    }
    return "none";
}

void traceLine(SimBus &bus, const std::string &line) {
    if (bus.traceFile.empty()) return;
    std::ofstream file(bus.traceFile, std::ios::binary | std::ios::app);
    file << line << "\n";
}

std::string tracePayload(const void *data, std::size_t count) {
    if (data == nullptr) return "null";
    if (count > kTraceQuoteLimit) return "<" + std::to_string(count) + " bytes>";
    const unsigned char *bytes = static_cast<const unsigned char *>(data);
    std::string text = "\"";
    for (std::size_t i = 0; i < count; ++i) {
        unsigned char c = bytes[i];
        switch (c) {
        case '\n': text += "\\n"; break;
        case '\r': text += "\\r"; break;
        case '\t': text += "\\t"; break;
        case '"': text += "\\\""; break;
        case '\\': text += "\\\\"; break;
        default:
            if (c >= 0x20 && c < 0x7f) {
                text += static_cast<char>(c);
            } else {
                char escape[5];
                std::snprintf(escape, sizeof escape, "\\x%02x", c);
                text += escape;
            }
        }
    }
    return text + "\"";
}

std::string quoteText(const char *text) {
    if (text == nullptr) return "null";
    std::string value(text);
    if (value.size() > kTraceQuoteLimit) return "<" + std::to_string(value.size()) + " characters>";
    return tracePayload(value.data(), value.size());
}

void finishCall(SimBus &bus, const std::vector<std::string> &openHandles) {
    ++bus.calls;
    writeStatus(bus, openHandles);
}

void sleepMicroseconds(long long microseconds) {
    if (microseconds > 0) std::this_thread::sleep_for(std::chrono::microseconds(microseconds));
}

namespace {

long long steadyMicroseconds() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

void startDataCall(SimBus &bus) { bus.callStartMicroseconds = steadyMicroseconds(); }

void waitForWire(const SimBus &bus, std::size_t count) {
    if (bus.wireBytesPerSecond <= 0) return;
    long long wire = static_cast<long long>(count) * 1000000LL / bus.wireBytesPerSecond;
    long long now = steadyMicroseconds();
    long long start = bus.callStartMicroseconds;
    if (start <= 0 || start > now) start = now;  // no data call noted
    sleepMicroseconds(start + wire - now);
}

}  // namespace sim
