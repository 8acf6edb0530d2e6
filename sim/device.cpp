// The devices on the simulated bus: the KVR-D's input parser, its identity,
// its error queue and the waveform files it stores, and the other kinds.
#include "sim/sim.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace sim {
namespace {

namespace fs = std::filesystem;

// Error queue entries, in the instrument's "code,\"text\"" form. The -100s
// are command errors (the bytes are not a command the instrument can
// parse), the -200s execution errors.
const char kNoError[] = "+0,\"No error\"";
const char kErrorSyntax[] = "-102,\"Syntax error\"";
const char kErrorInvalidSeparator[] = "-103,\"Invalid separator\"";
const char kErrorBadBlockHeader[] = "-104,\"Data type error; bad block header\"";
const char kErrorParameterNotAllowed[] = "-108,\"Parameter not allowed\"";
const char kErrorCommandTooLong[] = "-112,\"Program mnemonic too long\"";
const char kErrorUndefinedHeader[] = "-113,\"Undefined header\"";
const char kErrorShortBlock[] = "-161,\"Invalid block data; short block\"";
const char kErrorUnknownMemory[] = "-256,\"File name not found; unknown memory\"";
const char kErrorCannotStore[] = "-257,\"File name error; cannot store\"";
const char kErrorQueueOverflow[] = "-350,\"Queue overflow\"";

const char kMemoryCommand[] = "mmem:data";
const char kStoredSuffix[] = ".bin";
enum { kStoredNameLimit = 100, kStoredNameKeep = 80 };

bool startsWithNoCase(const std::string &text, std::size_t at, const char *prefix) {
    std::size_t length = std::strlen(prefix);
    if (at > text.size() || text.size() - at < length) return false;
    for (std::size_t i = 0; i < length; ++i)
        if (std::tolower(static_cast<unsigned char>(text[at + i])) !=
            std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}

std::string lowered(std::string text) {
    for (char &c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool isWhiteSpace(unsigned char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string trimmed(const std::string &text) {
    std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return std::string();
    std::size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

// Queues an error; a full queue keeps its first entries and ends with the
// overflow entry.
void pushError(SimDevice &device, const char *error) {
    if (device.errors.size() + 1 < kErrorQueueLimit) {
        device.errors.push_back(error);
    } else if (device.errors.size() + 1 == kErrorQueueLimit) {
        device.errors.push_back(kErrorQueueOverflow);
    }
}

// What the unit text collected so far says about a '#' that follows it
// outside a quoted string.
enum HeaderMatch {
    kNotHeader,         // not a memory command: the '#' is plain text
    kHeaderMalformed,   // a memory command that a block cannot follow
    kHeaderComplete,    // `mmem:data "MEMORY:NAME",` with at most one space after the comma
};

HeaderMatch matchHeader(const std::string &text, std::string *memory, std::string *name) {
    std::size_t at = text.find_first_not_of(" \t\r\n");
    if (at == std::string::npos || !startsWithNoCase(text, at, kMemoryCommand)) return kNotHeader;
    at += std::strlen(kMemoryCommand);
    std::size_t quote = text.find_first_not_of(' ', at);
    if (quote == at || quote == std::string::npos || text[quote] != '"') return kHeaderMalformed;
    std::size_t close = text.find('"', quote + 1);
    if (close == std::string::npos) return kHeaderMalformed;
    std::string file = text.substr(quote + 1, close - quote - 1);
    std::string tail = text.substr(close + 1);
    if (tail != "," && tail != ", ") return kHeaderMalformed;
    std::size_t colon = file.find(':');
    *memory = colon == std::string::npos ? std::string() : lowered(file.substr(0, colon));
    *name = colon == std::string::npos ? file : file.substr(colon + 1);
    return kHeaderComplete;
}

void storeBlock(SimBus &bus, SimInterface &interface, int address, SimDevice &device) {
    if (device.kind != kKvrDevice) {
        pushError(device, kErrorUndefinedHeader);
        return;
    }
    if (device.blockMemory != "arbi" && device.blockMemory != "arbq") {
        pushError(device, kErrorUnknownMemory);
        return;
    }
    if (!bus.storeFolder.empty()) {
        std::string path = storedFilePath(bus, interface.name, address, device.blockMemory,
                                          device.blockName);
        std::error_code failed;
        fs::create_directories(fs::path(path).parent_path(), failed);
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        if (!device.block.empty())
            file.write(reinterpret_cast<const char *>(device.block.data()),
                       static_cast<std::streamsize>(device.block.size()));
        file.close();
        if (failed || !file) {
            pushError(device, kErrorCannotStore);
            return;
        }
    }
    ++device.filesStored;
}

bool isHeaderStart(unsigned char c) { return std::isalpha(c) || c == '*' || c == ':'; }
bool isHeaderCharacter(unsigned char c) {
    return std::isalnum(c) || c == '*' || c == ':' || c == '?' || c == '_';
}

// Runs one complete program message unit other than a memory command with
// its block: its header, then what follows the header. Returns false when
// the unit held an error (it is queued).
bool executeUnit(SimDevice &device, const std::string &text) {
    std::string unit = trimmed(text);
    if (unit.empty() || device.kind == kSilentDevice) return true;
    std::size_t end = 0;
    while (end < unit.size() && isHeaderCharacter(static_cast<unsigned char>(unit[end]))) ++end;
    if (!isHeaderStart(static_cast<unsigned char>(unit[0])) ||
        (end < unit.size() && !isWhiteSpace(static_cast<unsigned char>(unit[end])))) {
        pushError(device, kErrorSyntax);
        return false;
    }
    std::string header = lowered(unit.substr(0, end));
    bool parameters = !trimmed(unit.substr(end)).empty();
    const char *error = nullptr;
    if (header == "*idn?") {
        device.output = device.faults.unterminated ? device.identity : device.identity + "\n";
    } else if (header == "syst:err?" || header == "system:error?" || header == "syst:err:next?") {
        if (device.errors.empty()) {
            device.output = std::string(kNoError) + "\n";
        } else {
            device.output = device.errors.front() + "\n";
            device.errors.erase(device.errors.begin());
        }
    } else if (header == "*cls") {
        device.errors.clear();
    } else if (header == "*rst") {
        device.output.clear();
    } else if (header == kMemoryCommand && device.kind == kKvrDevice) {
        error = kErrorBadBlockHeader;  // a memory command without its block
    } else {
        error = kErrorUndefinedHeader;
    }
    if (error == nullptr && parameters) error = kErrorParameterNotAllowed;
    if (error == nullptr) return true;
    pushError(device, error);
    return false;
}

// Empties the input: the parser waits for a new program message, and no
// piece of the one under way (unit text, block header, block bytes) stays.
void resetInput(SimDevice &device) {
    device.parserState = kParseIdle;
    device.command.clear();
    device.inQuote = false;
    device.blockMemory.clear();
    device.blockName.clear();
    device.blockDigits = 0;
    device.blockCountText.clear();
    device.blockSize = 0;
    device.block.clear();
    device.block.shrink_to_fit();
}

// A unit ended at a ';' or at the message's end.
void endOfUnit(SimDevice &device) {
    if (!executeUnit(device, device.command)) {
        device.command.clear();
        device.parserState = kParseDiscard;
        return;
    }
    device.command.clear();
    device.inQuote = false;
}

// The message ended (END, or a newline outside a block) where state stood.
void endOfMessage(SimDevice &device) {
    switch (device.parserState) {
    case kParseCommand:
        endOfUnit(device);
        break;
    case kParseBlockDigit:
    case kParseBlockCount:
    case kParseBlockData:
        pushError(device, kErrorShortBlock);
        break;
    case kParseIdle:
    case kParseAfterBlock:
    case kParseDiscard:
        break;
    }
    resetInput(device);
}

// A command error in the message: the rest of it, up to its end, is skipped.
void discardMessage(SimDevice &device, const char *error) {
    pushError(device, error);
    device.command.clear();
    device.parserState = kParseDiscard;
}

void startBlockData(SimBus &bus, SimInterface &interface, int address, SimDevice &device) {
    device.blockSize = 0;
    for (char c : device.blockCountText) device.blockSize = device.blockSize * 10 + static_cast<std::size_t>(c - '0');
    device.block.clear();
    device.block.reserve(device.blockSize);
    device.parserState = kParseBlockData;
    if (device.blockSize == 0) {
        storeBlock(bus, interface, address, device);
        device.parserState = kParseAfterBlock;
    }
}

// Feeds one byte that is not part of a block's data.
void feedByte(SimBus &bus, SimInterface &interface, int address, SimDevice &device, unsigned char c) {
    switch (device.parserState) {
    case kParseIdle:
        device.parserState = kParseCommand;
        feedByte(bus, interface, address, device, c);
        break;
    case kParseCommand:
        if (c == '\n') {
            endOfMessage(device);
        } else if (c == '"') {
            device.inQuote = !device.inQuote;
            device.command += static_cast<char>(c);
        } else if (c == ';' && !device.inQuote) {
            endOfUnit(device);
        } else if (c == '#' && !device.inQuote) {
            switch (matchHeader(device.command, &device.blockMemory, &device.blockName)) {
            case kHeaderComplete:
                device.command.clear();
                device.parserState = kParseBlockDigit;
                break;
            case kHeaderMalformed:
                discardMessage(device, kErrorBadBlockHeader);
                break;
            case kNotHeader:
                device.command += static_cast<char>(c);
                break;
            }
        } else if (device.command.size() < kCommandLimit) {
            device.command += static_cast<char>(c);
        } else {
            discardMessage(device, kErrorCommandTooLong);
        }
        break;
    case kParseBlockDigit:
        if (c >= '1' && c <= '9') {
            device.blockDigits = c - '0';
            device.blockCountText.clear();
            device.parserState = kParseBlockCount;
        } else if (c == '\n') {
            endOfMessage(device);
        } else {
            discardMessage(device, kErrorBadBlockHeader);
        }
        break;
    case kParseBlockCount:
        if (c >= '0' && c <= '9') {
            device.blockCountText += static_cast<char>(c);
            if (static_cast<int>(device.blockCountText.size()) == device.blockDigits)
                startBlockData(bus, interface, address, device);
        } else if (c == '\n') {
            endOfMessage(device);
        } else {
            discardMessage(device, kErrorBadBlockHeader);
        }
        break;
    case kParseAfterBlock:
        // The block ends its unit: white space, then the message's end or
        // the next unit's separator.
        if (c == '\n') {
            endOfMessage(device);
        } else if (c == ';') {
            device.parserState = kParseCommand;
            device.command.clear();
            device.inQuote = false;
        } else if (!isWhiteSpace(c)) {
            discardMessage(device, kErrorInvalidSeparator);
        }
        break;
    case kParseDiscard:
        if (c == '\n') endOfMessage(device);
        break;
    case kParseBlockData:
        break;  // handled in bulk by writeDevice
    }
}

std::uint64_t nameHash(const std::string &name) {
    std::uint64_t hash = 14695981039346656037ULL;  // FNV-1a
    for (unsigned char c : name) {
        hash ^= c;
        hash *= 1099511628211ULL;
    }
    return hash;
}

}  // namespace

void resetDevice(SimDevice &device) {
    device.remote = false;
    resetInput(device);
    device.output.clear();
    device.errors.clear();
    device.filesStored = 0;
}

// A device clear empties the input and the output queue; the error queue
// stays, as it does on an IEEE 488.2 instrument.
DeviceResult clearDevice(SimBus &, SimDevice &device) {
    if (device.kind == kNoDevice) return kDeviceNoListener;
    device.remote = true;
    resetInput(device);
    device.output.clear();
    return kDeviceOk;
}

const char *inputStateName(const SimDevice &device) {
    switch (device.parserState) {
    case kParseIdle: return "idle";
    case kParseCommand:
    case kParseAfterBlock:
    case kParseDiscard: return "message";
    case kParseBlockDigit:
    case kParseBlockCount: return "block-header";
    case kParseBlockData: return "block";
    }
    return "idle";
}

std::string inputState(const SimDevice &device) {
    std::string state = inputStateName(device);
    if (device.parserState == kParseBlockData)
        state += ":" + std::to_string(device.blockSize - device.block.size());
    return state;
}

DeviceResult writeDevice(SimBus &bus, SimInterface &interface, int address, const void *data,
                         std::size_t count, bool end, long long timeoutMicroseconds) {
    SimDevice *device = deviceAt(interface, address);
    if (device == nullptr || device->kind == kNoDevice) return kDeviceNoListener;
    // Files go under the address the device was described at, whichever it
    // answered at.
    address = homeAddress(interface, address);
    device->remote = true;
    const unsigned char *bytes = static_cast<const unsigned char *>(data);
    const SimDeviceFaults &faults = device->faults;
    std::size_t at = 0;
    while (at < count) {
        if (device->parserState == kParseBlockData) {
            if (device->block.empty() && !faults.refusedMemory.empty() && faults.refusedMemory == device->blockMemory)
                return kDeviceNoListener;
            std::size_t wanted = device->blockSize - device->block.size();
            if (!faults.stallMemory.empty() && faults.stallMemory == device->blockMemory) {
                // The device takes no more than the fault lets through; the
                // rest of the write waits out the timeout.
                std::size_t room = faults.stallAfter > device->block.size() ? faults.stallAfter - device->block.size() : 0;
                if (room == 0) {
                    waitForWire(bus, at);
                    sleepMicroseconds(faults.stallWaitMicroseconds < 0 ? timeoutMicroseconds
                                                                       : faults.stallWaitMicroseconds);
                    return kDeviceTimeout;
                }
                if (room < wanted) wanted = room;
            }
            std::size_t take = count - at < wanted ? count - at : wanted;
            device->block.insert(device->block.end(), bytes + at, bytes + at + take);
            at += take;
            if (device->block.size() == device->blockSize) {
                storeBlock(bus, interface, address, *device);
                device->block.clear();
                device->block.shrink_to_fit();
                device->parserState = kParseAfterBlock;
            }
        } else {
            if (device->parserState == kParseBlockDigit && !faults.headerRefusedMemory.empty() &&
                faults.headerRefusedMemory == device->blockMemory)
                return kDeviceNoListener;
            feedByte(bus, interface, address, *device, bytes[at++]);
        }
    }
    if (end) endOfMessage(*device);
    // The device takes the bytes as they arrive: the wire time covers its
    // work on them.
    waitForWire(bus, count);
    return kDeviceOk;
}

DeviceResult readDevice(SimBus &bus, SimDevice &device, void *buffer, std::size_t max,
                        long long timeoutMicroseconds, std::size_t *count, bool *end) {
    *count = 0;
    *end = false;
    if (device.faults.readFails && device.kind != kNoDevice) {
        device.output.clear();
        return kDeviceIoError;
    }
    if (device.kind == kNoDevice || device.output.empty()) {
        // Nobody talks: the driver waits its whole timeout, as a real one does.
        sleepMicroseconds(timeoutMicroseconds);
        return kDeviceTimeout;
    }
    std::size_t take = device.output.size() < max ? device.output.size() : max;
    waitForWire(bus, take);
    if (take > 0) std::memcpy(buffer, device.output.data(), take);
    device.output.erase(0, take);
    *count = take;
    *end = device.output.empty();
    return kDeviceOk;
}

DeviceResult localDevice(SimDevice &device) {
    if (device.kind == kNoDevice) return kDeviceNoListener;
    device.remote = false;
    return kDeviceOk;
}

std::string storedFileName(const std::string &name) {
    if (name.empty()) return "%";
    std::string encoded;
    for (unsigned char c : name) {
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                     c == '-' || c == '_';
        if (plain) {
            encoded += static_cast<char>(c);
        } else {
            char escape[4];
            std::snprintf(escape, sizeof escape, "%%%02X", c);
            encoded += escape;
        }
    }
    if (encoded.size() <= kStoredNameLimit) return encoded;
    std::size_t keep = kStoredNameKeep;
    // Never cut through a %XX escape.
    if (encoded[keep - 1] == '%') keep -= 1;
    else if (encoded[keep - 2] == '%') keep -= 2;
    char hash[20];
    std::snprintf(hash, sizeof hash, "~%016llx", static_cast<unsigned long long>(nameHash(name)));
    return encoded.substr(0, keep) + hash;
}

std::string storedFilePath(const SimBus &bus, const std::string &interface, int address,
                           const std::string &memory, const std::string &name) {
    fs::path path = fs::path(bus.storeFolder) / (interface + "-" + std::to_string(address)) / memory /
                    (storedFileName(name) + kStoredSuffix);
    return path.string();
}

}  // namespace sim
