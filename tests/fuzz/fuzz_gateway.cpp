// Fuzz target: one input sets up the fake kernel, drivers and bus, builds the
// gateway's arguments and makes up to three calls, checking after each call.
//
// Input layout, read front to back; a field past the end of the input reads
// as zero bytes, so every input is valid:
//   setup      byte: bit0 NI driver installed, bit1 SICL installed, bit2 an NI
//              file that is no library, bit3 a SICL file that is no library,
//              bit4 one NI export missing, bit5 one SICL entry missing,
//              bit6 ibdev refuses every device, bit7 system directory given
//              [byte which NI export] [byte which SICL entry]
//              [byte n, n bytes: the system directory]
//   notice     byte: bits0-1 0/3 the expected text, 1 another year (4 bytes
//              follow), 2 any text (byte n, n bytes follow); bit2 no
//              terminator (for texts longer than the notice), bit3 read-only
//   boards     byte: bit k, NI board gpib<k>
//   interfaces byte n (0..2), n bytes: SICL interface names, by index
//   sampleFail byte (0..2): which sample write fails
//   devices    byte n (0..5), then per device: byte address (0..32), byte
//              flags (bit0 silent, bit1 its SICL open fails, bit2 stale bytes
//              after the reply, bit3 the family's reply), [byte n, n bytes:
//              the reply], [byte n, n bytes: the stale tail], two bytes:
//              numbers of writes to it that fail (0: none)
//   data       byte input count (0..4), byte class, byte flags (bit0 sparse,
//              bit1 complex, bit2 raw doubles, bit3 too long, bit4 long
//              zeros, bit5 kept as Octave keeps it: a complex array as
//              interleaved pairs), 2+2 bytes rows and columns (or 4 bytes
//              length for the long modes), then the values: 8 bytes each
//              raw, 1 byte each from a table otherwise
//   name       byte class, byte flags (bit0 a column, bit1 two rows, bit2 a
//              repeated pattern), 2 bytes length, then the bytes (or byte n
//              and n bytes of pattern)
//   calls      byte outputs requested, byte calls (1..3)
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "download/download.h"
#include "fake_drivers.h"
#include "fake_host.h"
#include "fake_kernel.h"
#include "gpib/driver_abi.h"
#include "gpib/ni488.h"
#include "vendor.h"
#include "wire.h"

namespace {

const std::size_t kMaxElements = 4096;  // values taken from the input
// The long modes hand the gateway zeros it may read: up to this many points,
// enough for a transfer timeout of 30 s (NI-488.2 code 14) and short enough
// to keep the runs quick; the unit tests cover the longer timeouts.
const int kLongPoints = 50000;
// Two doubles a point, for the pairs of an interleaved complex array.
std::vector<double> longZeros(2 * kLongPoints, 0.0);
// What a too-long array points at: the module must not read it.
double tooLongData[1] = {1.0};

const char kDone[] = "Done loading the waveform into the KVR dual arb.\n";
const char *const kIdentityMarkers[] = {"KVR-D", "K207"};

const char *const kNiExports[] = {"ibclr", "ibconfig", "ibdev", "ibeot", "ibfindA", "ibloc", "ibonl",
                                  "ibrd", "ibtmo", "ibwrt", vendor::kNiStatusExport, vendor::kNiErrorExport,
                                  vendor::kNiCountExport, vendor::kNiNoticeExport};
const char *const kSiclEntries[] = {"iopen", "iclose", "iwrite", "iclear", "itimeout", "iread", "ilocal", "iprintf"};

const FakeClass kClasses[] = {FakeClass::kDouble, FakeClass::kSingle, FakeClass::kInt16, FakeClass::kLogical,
                              FakeClass::kChar,   FakeClass::kCell,   FakeClass::kStruct};

// Values that probe the conversion's edges, then small integers.
const double kSpecialValues[] = {0.0, -0.0, 1.9, -1.9, 0.5, -0.5, 32767.0, 32767.9, 32768.0, -32768.0, -32769.0,
                                 65535.0, 65536.0, 2147483647.0, 2147483648.0, -2147483648.0, -2147483649.0,
                                 9.2233720368547748e18, 9.2233720368547758e18, -9.2233720368547758e18, 1e300,
                                 -1e300, 5e-324, HUGE_VAL, -HUGE_VAL, NAN, -NAN};
const std::size_t kSpecialCount = sizeof kSpecialValues / sizeof kSpecialValues[0];

struct Reader {
    const std::uint8_t *data;
    std::size_t size;
    std::size_t at = 0;

    std::uint8_t byte() { return at < size ? data[at++] : 0; }
    unsigned u16() { return byte() | static_cast<unsigned>(byte()) << 8; }
    unsigned long u32() { return u16() | static_cast<unsigned long>(u16()) << 16; }
    std::string bytes(std::size_t count) {
        std::string text;
        for (std::size_t i = 0; i < count; ++i) text += static_cast<char>(byte());
        return text;
    }
    std::string counted() { return bytes(byte()); }
    double raw() {
        std::uint64_t bits = 0;
        for (int i = 0; i < 8; ++i) bits |= static_cast<std::uint64_t>(byte()) << (8 * i);
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
};

// The SICL interface names discovery tries, and one it never tries.
std::string siclInterfaceName(unsigned index) {
    index %= 67;
    if (index == 66) return "vxi0";
    std::string prefix = index < 33 ? "hpib" : "gpib";
    unsigned k = index % 33;
    return k == 0 ? prefix : prefix + std::to_string(k - 1);
}

[[noreturn]] void broken(const std::string &what, int call) {
    std::fprintf(stderr, "vandrel fuzz: call %d: %s\n", call, what.c_str());
    std::fprintf(stderr, "transcript:\n%s\n", fakehost::transcript().c_str());
    std::fprintf(stderr, "bus trace (%zu lines):\n", fakebus::bus().trace.size());
    for (const std::string &line : fakebus::bus().trace) std::fprintf(stderr, "  %s\n", line.substr(0, 200).c_str());
    std::abort();
}

std::int16_t reference(double value) {
    if (!(std::fabs(value) < 0x1p63)) return 0;
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(static_cast<unsigned long long>(
        static_cast<long long>(value))));
}

std::vector<std::int16_t> referenceSamples(const double *values, int len) {
    std::vector<std::int16_t> samples(static_cast<std::size_t>(len), 0);
    if (values != nullptr)
        for (int i = 0; i < len; ++i) samples[static_cast<std::size_t>(i)] = reference(values[i]);
    return samples;
}

bool names(const std::string &reply) {
    std::string seen = reply.substr(0, kReplySize);
    for (const char *marker : kIdentityMarkers)
        if (seen.find(marker) != std::string::npos) return true;
    return false;
}

struct Setup {
    bool ni = false;
    bool sicl = false;
    bool niDeviceFails = false;
    std::string niMissing;  // the NI-488.2 export taken out, if any
};

Setup setUpMachine(Reader &in) {
    Setup setup;
    std::uint8_t flags = in.byte();
    std::uint8_t niMissing = (flags & 0x10) ? in.byte() : 0;
    std::uint8_t siclMissing = (flags & 0x20) ? in.byte() : 0;
    if (flags & 0x80) fakekernel::kernel().systemDirectory = in.counted();

    std::uint8_t notice = in.byte();
    std::string text = kNi488Notice;
    if ((notice & 3) == 1) text.replace(kNi488NoticeYearOffset, kNi488NoticeYearLength, in.bytes(4));
    if ((notice & 3) == 2) text = in.counted();
    // Any reader of the notice must look one byte past the expected length to
    // know a text ends there, so a driver's notice is terminated or at least
    // that long; a shorter text without its terminator is not a driver's.
    bool terminated = (notice & 4) == 0 || text.size() <= kNi488NoticeLength;
    fakebus::setNotice(text, terminated, (notice & 8) != 0);

    if (flags & 1) {
        fakebus::installNi();
        setup.ni = true;
        if (flags & 0x10) {
            setup.niMissing = kNiExports[niMissing % (sizeof kNiExports / sizeof kNiExports[0])];
            fakekernel::kernel().libraries[fakebus::niLibraryPath()].symbols.erase(setup.niMissing);
        }
    } else if (flags & 4) {
        fakekernel::kernel().presentFiles.insert(fakebus::niLibraryPath());
    }
    if (flags & 2) {
        fakebus::installSicl();
        setup.sicl = true;
        if (flags & 0x20)
            fakekernel::kernel().libraries[fakebus::siclLibraryPath()].symbols.erase(
                kSiclEntries[siclMissing % (sizeof kSiclEntries / sizeof kSiclEntries[0])]);
    } else if (flags & 8) {
        fakekernel::kernel().presentFiles.insert(fakebus::siclLibraryPath());
    }
    setup.niDeviceFails = (flags & 0x40) != 0;

    fakebus::Bus &bus = fakebus::bus();
    bus.niDeviceFails = setup.niDeviceFails;
    std::uint8_t boards = in.byte();
    for (int k = 0; k < 8; ++k)
        if (boards & (1 << k)) bus.niBoards.insert(k);
    int interfaces = in.byte() % 3;
    for (int k = 0; k < interfaces; ++k) bus.siclInterfaces.insert(siclInterfaceName(in.byte()));
    bus.failSampleWrite = in.byte() % 3;

    int devices = in.byte() % 6;
    for (int k = 0; k < devices; ++k) {
        int address = in.byte() % 33;
        std::uint8_t deviceFlags = in.byte();
        fakebus::Device &device = fakebus::addDevice(address, (deviceFlags & 8) ? fakebus::kvrReply() : in.counted());
        device.answers = (deviceFlags & 1) == 0;
        if (deviceFlags & 2) bus.siclOpenFailsAt.insert(address);
        if (deviceFlags & 4) device.staleTail = in.counted();
        for (int w = 0; w < 2; ++w) {
            int number = in.byte();
            if (number != 0) device.failWrites.insert(number);
        }
    }
    return setup;
}

double value(Reader &in, bool raw) {
    if (raw) return in.raw();
    std::uint8_t code = in.byte();
    if (code < kSpecialCount) return kSpecialValues[code];
    return static_cast<double>(static_cast<std::int8_t>(code));
}

host::Array dataArray(Reader &in, int *inputCount) {
    *inputCount = in.byte() % 5;
    host::Array array;
    array.classId = kClasses[in.byte() % 7];
    std::uint8_t flags = in.byte();
    array.sparse = (flags & 1) != 0;
    array.complex = (flags & 2) != 0;
    array.interleaved = (flags & 0x20) != 0;
    bool raw = (flags & 4) != 0;
    if (flags & 0x18) {
        // One dimension 1, the other long: too long for one block, or long
        // zeros the module may read.
        bool tooLong = (flags & 8) != 0;
        unsigned long length = in.u32();
        int len = tooLong ? kMaxSamples + 1 + static_cast<int>(length % (INT_MAX - kMaxSamples))
                          : static_cast<int>(length % (kLongPoints + 1));
        bool column = (in.byte() & 1) != 0;
        array.rows = column ? len : 1;
        array.columns = column ? 1 : len;
        array.realData = tooLong ? tooLongData : longZeros.data();
        if (array.complex && !array.interleaved) array.imagData = array.realData;
        return array;
    }
    array.rows = static_cast<int>(in.u16());
    array.columns = static_cast<int>(in.u16());
    std::size_t count = static_cast<std::size_t>(array.rows) * static_cast<std::size_t>(array.columns);
    if (count > kMaxElements) {
        // A vector is cut to what the input can fill; an array of that size
        // is never read, so it is given no values.
        if (array.rows != 1 && array.columns != 1) return array;
        if (array.rows == 1)
            array.columns = static_cast<int>(kMaxElements);
        else
            array.rows = static_cast<int>(kMaxElements);
        count = kMaxElements;
    }
    if (array.classId == FakeClass::kChar) {
        array.chars = in.bytes(count);
    } else if (array.classId != FakeClass::kCell && array.classId != FakeClass::kStruct) {
        for (std::size_t i = 0; i < count; ++i) array.real.push_back(value(in, raw));
        if (array.complex)
            for (std::size_t i = 0; i < count; ++i) array.imaginary.push_back(value(in, raw));
    }
    return array;
}

host::Array nameArray(Reader &in) {
    host::Array array;
    array.classId = kClasses[in.byte() % 7];
    std::uint8_t flags = in.byte();
    std::size_t length = in.u16() % 12001;
    std::string text;
    if (flags & 4) {
        std::string pattern = in.counted();
        if (pattern.empty()) pattern = "a";
        while (text.size() < length) text += pattern;
        text.resize(length);
    } else {
        text = in.bytes(length);
    }
    int count = static_cast<int>(text.size());
    if ((flags & 2) && count % 2 == 0 && count > 0) {
        array.rows = 2;
        array.columns = count / 2;
    } else if (flags & 1) {
        array.rows = count;
        array.columns = count == 0 ? 0 : 1;
    } else {
        array.rows = count == 0 ? 0 : 1;
        array.columns = count;
    }
    if (array.classId == FakeClass::kChar) {
        array.chars = text;
    } else if (array.classId != FakeClass::kCell && array.classId != FakeClass::kStruct) {
        for (char c : text) array.real.push_back(static_cast<unsigned char>(c));
    }
    return array;
}

// The name the gateway takes from its second input: the text up to its
// first zero byte, or nothing when the input holds no characters.
std::string nameSeen(const host::Array &array) {
    if (array.classId != FakeClass::kChar) return std::string();
    std::string text = array.chars.substr(0, static_cast<std::size_t>(array.rows) * array.columns);
    std::string::size_type zero = text.find('\0');
    return zero == std::string::npos ? text : text.substr(0, zero);
}

bool isClosingLine(const std::string &line, int len) {
    static const char *const kClosing[] = {kDone,
                                           "Writing the real part to the dual arb failed.\n",
                                           "Writing the imaginary part to the dual arb failed.\n",
                                           "No KVR-D found.\n",
                                           "No GPIB configured Interface was found.\n"};
    for (const char *closing : kClosing)
        if (line == closing) return true;
    if (line.compare(0, 19, "Waveform too long: ") == 0) return true;
    // Nothing to send: the instrument is found and closed again.
    return len == 0 && line.compare(0, 11, "KVR_addr = ") == 0;
}

int foundAddress(const std::vector<std::string> &lines, std::size_t from) {
    for (std::size_t i = from; i < lines.size(); ++i) {
        int address = -1;
        if (std::sscanf(lines[i].c_str(), "KVR_addr = %d.", &address) == 1) return address;
    }
    return -1;
}

void checkCall(int call, fakehost::CallResult result, const Setup &setup, const host::Array &data,
               const host::Array &name, std::size_t linesBefore, std::size_t traceBefore, std::size_t loadsBefore,
               const std::vector<std::size_t> &receivedBefore, const std::vector<int> &writesBefore) {
    const fakehost::Record &host = fakehost::record();
    const fakebus::Bus &bus = fakebus::bus();
    if (!host.live.empty()) broken("host blocks left allocated: " + std::to_string(host.live.size()), call);
    if (!host.faults.empty()) broken("host misuse: " + host.faults.front(), call);
    if (!fakekernel::kernel().faults.empty()) broken("kernel misuse: " + fakekernel::kernel().faults.front(), call);
    int niHandles = fakekernel::liveHandles(fakebus::niLibraryPath());
    if (fakekernel::liveHandles() - niHandles != 0) broken("a library other than the NI-488.2 driver is loaded", call);
    if (niHandles > 1) broken("the NI-488.2 driver is loaded more than once", call);
    if (fakebus::openSiclSessions() != 0) broken("SICL sessions left open", call);
    // A driver without ibonl cannot take a descriptor offline; nothing the
    // module does can.
    if (fakebus::onlineNiDescriptors() != 0 && setup.niMissing != "ibonl")
        broken("NI-488.2 descriptors left online", call);
    for (const std::string &fault : bus.faults) {
        // A probe runs its calls on the descriptor ibdev gave: -1 when the
        // driver refuses the device or has no ibdev at all.
        const std::string onNone = "on descriptor -1 that is not online";
        bool onMinusOne = fault.size() >= onNone.size() &&
                          fault.compare(fault.size() - onNone.size(), onNone.size(), onNone) == 0;
        bool noDescriptors = setup.niDeviceFails || setup.niMissing == "ibdev";
        if (!(noDescriptors && onMinusOne)) broken("driver misuse: " + fault, call);
    }

    std::vector<std::string> lines(host.printed.begin() + static_cast<std::ptrdiff_t>(linesBefore),
                                   host.printed.end());
    bool done = false;
    for (const std::string &line : lines) done = done || line == kDone;

    if (result == fakehost::CallResult::kRaisedError) {
        // Every refusal comes before the bus is touched.
        if (bus.trace.size() != traceBefore) broken("a refused call reached the bus", call);
        if (fakekernel::loadedPaths().size() != loadsBefore) broken("a refused call loaded a library", call);
        if (done) broken("a refused call reported a download", call);
        return;
    }

    if (lines.empty()) broken("a call returned without a line", call);
    int len = data.rows == 0 || data.columns == 0 ? 0 : (data.rows > data.columns ? data.rows : data.columns);
    if (!isClosingLine(lines.back(), len)) broken("the call ended on the line: " + lines.back(), call);

    int address = foundAddress(lines, 0);
    if (address >= 0) {
        auto found = bus.devices.find(address);
        if (found == bus.devices.end() || !found->second.answers || !names(found->second.reply))
            broken("an instrument was reported where none names itself: " + std::to_string(address), call);
    }
    bool anyInterface = false;
    for (const std::string &line : lines) anyInterface = anyInterface || line.compare(0, 12, "Interface = ") == 0;
    bool siclUsed = false;
    for (const std::string &line : lines) siclUsed = siclUsed || line == "Using Hewlett-Packard HP-IB Card.\n";
    if (anyInterface && lines.back() == "No KVR-D found.\n") {
        // Without ibdev or ibrd an NI-488.2 probe hears nothing.
        bool niCanAsk = !setup.niDeviceFails && setup.niMissing != "ibdev" && setup.niMissing != "ibrd";
        for (const auto &entry : bus.devices) {
            const fakebus::Device &device = entry.second;
            bool reachable = entry.first >= 1 && entry.first <= 31 && device.answers &&
                             (siclUsed ? bus.siclOpenFailsAt.count(entry.first) == 0 : niCanAsk);
            if (reachable && names(device.reply))
                broken("no instrument reported, but one at " + std::to_string(entry.first) + " names itself", call);
        }
    }

    if (!done) return;
    if (address < 0) broken("a download reported done without an instrument", call);
    const fakebus::Device &device = bus.devices.at(address);
    std::size_t index = static_cast<std::size_t>(std::distance(bus.devices.begin(), bus.devices.find(address)));
    // The first write of the call to the instrument is its identity query; a
    // failure of any later one means the waveform did not arrive whole.
    bool queryFailed = false;
    for (int number : device.failedWrites) {
        if (number <= writesBefore[index]) continue;
        if (number == writesBefore[index] + 1)
            queryFailed = true;
        else
            broken("done reported after write " + std::to_string(number) + " to the instrument failed", call);
    }
    std::vector<std::int16_t> i = referenceSamples(data.realData ? data.realData : data.real.data(), len);
    const double *imaginary = data.imagData ? data.imagData : (data.complex && !data.imaginary.empty()
                                                                   ? data.imaginary.data() : nullptr);
    std::vector<std::int16_t> q = referenceSamples(imaginary, len);
    std::string expected = siclUsed ? siclWire(nameSeen(name), i, q) : niWire(nameSeen(name), i, q);
    if (queryFailed) expected.erase(0, 5);  // "*IDN?" never arrived
    if (device.received.compare(receivedBefore[index], std::string::npos, expected) != 0)
        broken("the instrument did not receive the waveform that was reported done", call);
}

void resetAll() {
    ni488::resetLanguageInterface();
    fakekernel::reset();
    fakebus::reset();
    fakehost::reset();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    resetAll();
    Reader in{data, size};
    Setup setup = setUpMachine(in);
    int inputCount = 0;
    host::Array iq = dataArray(in, &inputCount);
    host::Array name = nameArray(in);
    int outputCount = in.byte() % 3;
    int calls = 1 + in.byte() % 3;

    std::vector<const host::Array *> inputs = {&iq, &name, &name, &iq};
    inputs.resize(static_cast<std::size_t>(inputCount));
    host::Array *outputs[4] = {nullptr, nullptr, nullptr, nullptr};
    for (int call = 1; call <= calls; ++call) {
        std::size_t linesBefore = fakehost::record().printed.size();
        std::size_t traceBefore = fakebus::bus().trace.size();
        std::size_t loadsBefore = fakekernel::loadedPaths().size();
        std::vector<std::size_t> receivedBefore;
        std::vector<int> writesBefore;
        for (const auto &entry : fakebus::bus().devices) {
            receivedBefore.push_back(entry.second.received.size());
            writesBefore.push_back(entry.second.writes);
        }
        fakehost::CallResult result = fakehost::callGatewayWith(inputs, outputCount, outputs);
        checkCall(call, result, setup, iq, name, linesBefore, traceBefore, loadsBefore, receivedBefore, writesBefore);
        for (host::Array *output : outputs)
            if (output != nullptr) broken("the gateway assigned an output", call);
    }
    resetAll();
    return 0;
}
