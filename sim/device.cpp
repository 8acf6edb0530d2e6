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

// Error queue entries, in the instrument's "code,\"text\"" form.
const char kNoError[] = "+0,\"No error\"";
const char kErrorUndefinedHeader[] = "-113,\"Undefined header\"";
const char kErrorBadBlockHeader[] = "-104,\"Data type error; bad block header\"";
const char kErrorShortBlock[] = "-161,\"Invalid block data; short block\"";
const char kErrorUnknownMemory[] = "-256,\"File name not found; unknown memory\"";
const char kErrorCannotStore[] = "-257,\"File name error; cannot store\"";
const char kErrorCommandTooLong[] = "-112,\"Program mnemonic too long\"";
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

std::string trimmed(const std::string &text) {
    std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return std::string();
    std::size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

void pushError(SimDevice &device, const char *error) {
    if (device.errors.size() + 1 < kErrorQueueLimit) {
        device.errors.push_back(error);
    } else if (device.errors.size() + 1 == kErrorQueueLimit) {
        device.errors.push_back(kErrorQueueOverflow);
    }
}

// What the command text collected so far says about a '#' that follows it.
enum HeaderMatch {
    kNotHeader,         // not a memory command: the '#' is plain text
    kHeaderOpenQuote,   // inside the quoted file name: the '#' belongs to it
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
    if (close == std::string::npos) return kHeaderOpenQuote;
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

// Runs one complete command other than a memory command with its block.
void executeCommand(SimDevice &device, const std::string &text) {
    std::string command = lowered(trimmed(text));
    if (command.empty() || device.kind == kSilentDevice) return;
    if (command == "*idn?") {
        device.output = device.faults.unterminated ? device.identity : device.identity + "\n";
    } else if (command == "syst:err?" || command == "system:error?" || command == "syst:err:next?") {
        if (device.errors.empty()) {
            device.output = std::string(kNoError) + "\n";
        } else {
            device.output = device.errors.front() + "\n";
            device.errors.erase(device.errors.begin());
        }
    } else if (command == "*cls") {
        device.errors.clear();
    } else if (command == "*rst") {
        device.output.clear();
    } else if (startsWithNoCase(command, 0, kMemoryCommand) && device.kind == kKvrDevice) {
        pushError(device, kErrorBadBlockHeader);  // a memory command without its block
    } else {
        pushError(device, kErrorUndefinedHeader);
    }
}

void startCommand(SimDevice &device) {
    device.parserState = kParseCommand;
    device.command.clear();
}

// The message ended (END, or a newline outside a block) where state stood.
void endOfMessage(SimDevice &device) {
    switch (device.parserState) {
    case kParseCommand:
        executeCommand(device, device.command);
        break;
    case kParseBlockDigit:
    case kParseBlockCount:
    case kParseBlockData:
        pushError(device, kErrorShortBlock);
        break;
    case kParseAfterBlock:
    case kParseDiscard:
        break;
    }
    startCommand(device);
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
    case kParseCommand:
        if (c == '\n') {
            endOfMessage(device);
        } else if (c == '#') {
            switch (matchHeader(device.command, &device.blockMemory, &device.blockName)) {
            case kHeaderComplete:
                device.parserState = kParseBlockDigit;
                break;
            case kHeaderMalformed:
                pushError(device, kErrorBadBlockHeader);
                device.parserState = kParseDiscard;
                break;
            case kNotHeader:
            case kHeaderOpenQuote:
                device.command += static_cast<char>(c);
                break;
            }
        } else if (device.command.size() < kCommandLimit) {
            device.command += static_cast<char>(c);
        } else {
            pushError(device, kErrorCommandTooLong);
            device.parserState = kParseDiscard;
        }
        break;
    case kParseBlockDigit:
        if (c >= '1' && c <= '9') {
            device.blockDigits = c - '0';
            device.blockCountText.clear();
            device.parserState = kParseBlockCount;
        } else {
            pushError(device, kErrorBadBlockHeader);
            device.parserState = c == '\n' ? kParseCommand : kParseDiscard;
        }
        break;
    case kParseBlockCount:
        if (c >= '0' && c <= '9') {
            device.blockCountText += static_cast<char>(c);
            if (static_cast<int>(device.blockCountText.size()) == device.blockDigits)
                startBlockData(bus, interface, address, device);
        } else {
            pushError(device, kErrorBadBlockHeader);
            device.parserState = c == '\n' ? kParseCommand : kParseDiscard;
        }
        break;
    case kParseAfterBlock:
        startCommand(device);
        // One newline after the block is its terminator; anything else
        // starts the next command.
        if (c != '\n') feedByte(bus, interface, address, device, c);
        break;
    case kParseDiscard:
        if (c == '\n') startCommand(device);
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
    startCommand(device);
    device.blockMemory.clear();
    device.blockName.clear();
    device.blockDigits = 0;
    device.blockCountText.clear();
    device.blockSize = 0;
    device.block.clear();
    device.output.clear();
    device.errors.clear();
    device.filesStored = 0;
}

DeviceResult clearDevice(SimBus &, SimDevice &device) {
    if (device.kind == kNoDevice) return kDeviceNoListener;
    device.remote = true;
    startCommand(device);
    device.block.clear();
    device.output.clear();
    return kDeviceOk;
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
