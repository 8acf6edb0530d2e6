// The waveform transfer: the timeout from the length, the block header, the
// byte order on the wire, long names, and failed writes.
#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>

#include "unit_fixture.h"
#include "wire.h"

namespace {

const char kLoadingReal[] = "Loading the real part of the data to the dual arb.\n";
const char kLoadingImaginary[] = "Loading the imaginary part of the data to the dual arb.\n";

class TransferTest : public BusTest {
protected:
    // The trace from the first call after discovery (the transfer timeout) on.
    static std::vector<std::string> transferTrace(Lib lib) {
        const std::vector<std::string> &lines = trace();
        std::size_t start = lib == Lib::kNi ? 6 : 7;
        if (lines.size() < start) return {};
        return std::vector<std::string>(lines.begin() + static_cast<std::ptrdiff_t>(start), lines.end());
    }

    static std::vector<std::string> clearTrace(Lib lib) {
        return {lib == Lib::kNi ? "ibclr(16)" : "iclear(2)"};
    }

    static std::vector<std::string> closeTrace(Lib lib) {
        return lib == Lib::kNi ? std::vector<std::string>{"ibloc(16)", "ibonl(16,0)"}
                               : std::vector<std::string>{"ilocal(2)", "iclose(2)"};
    }

    // What discovery prints before the transfer.
    static std::vector<std::string> discoveryLines(Lib lib) {
        return concat(bannerLines(), lib == Lib::kNi
                                         ? std::vector<std::string>{"Using National Instruments GPIB Card.\n",
                                                                    "Interface = gpib0.\n", "KVR_addr = 19.\n"}
                                         : std::vector<std::string>{"Using Hewlett-Packard HP-IB Card.\n",
                                                                    "Interface = hpib.\n", "KVR_addr = 19.\n"});
    }
};

TEST_F(TransferTest, TheTimeoutIsSizedFromTheLength) {
    struct Case {
        int length;
        long long estimate;  // seconds
        int code;
        int niSeconds;
    };
    const Case cases[] = {
        {1, 3, 12, 3},           {12499, 3, 12, 3},        {12500, 3, 12, 3},       {16666, 3, 12, 3},
        {16667, 4, 13, 10},      {41670, 10, 13, 10},      {45834, 11, 14, 30},     {125000, 30, 14, 30},
        {129167, 31, 15, 100},   {416670, 100, 15, 100},   {420834, 101, 16, 300},  {1250000, 300, 16, 300},
        {1254167, 301, 17, 1000},
        // len * 240 passes 2^31 here: the estimate needs 64 bits.
        {9000000, 2160, 17, 1000},
    };
    for (Lib lib : {Lib::kNi, Lib::kSicl}) {
        for (const Case &c : cases) {
            resetAll();
            setUpBus(lib);
            std::vector<double> zeros(static_cast<std::size_t>(c.length), 0.0);
            download(zeros, zeros, "t");
            std::vector<std::string> lines = transferTrace(lib);
            ASSERT_FALSE(lines.empty()) << libName(lib) << " " << c.length;
            long long shown = lib == Lib::kNi ? c.niSeconds : c.estimate;
            if (lib == Lib::kNi) {
                EXPECT_EQ(lines[0], "ibtmo(16," + std::to_string(c.code) + ")") << c.length;
            } else {
                EXPECT_EQ(lines[0], "itimeout(2," + std::to_string(c.estimate * 1000) + ")") << c.length;
            }
            std::vector<std::string> expected = concat(
                discoveryLines(lib), {"Timeout set to " + std::to_string(shown) + " seconds.\n", kLoadingReal,
                                      kLoadingImaginary, kDone});
            EXPECT_EQ(printed(), expected) << libName(lib) << " " << c.length;
        }
    }
}

TEST_F(TransferTest, TheNiBlockHeaderGivesTheDigitCountThenTheByteCount) {
    struct Case {
        int length;
        const char *digits;
        const char *count;
    };
    const Case cases[] = {{1, "1", "2"},       {4, "1", "8"},       {5, "2", "10"},       {49, "2", "98"},
                          {50, "3", "100"},   {499, "3", "998"},   {500, "4", "1000"},   {4999, "4", "9998"},
                          {5000, "5", "10000"}, {500000, "7", "1000000"}};
    for (const Case &c : cases) {
        resetAll();
        setUpBus(Lib::kNi);
        std::vector<double> ones(static_cast<std::size_t>(c.length), 1.0);
        download(ones, ones, "tone");
        std::vector<std::string> lines = transferTrace(Lib::kNi);
        ASSERT_GE(lines.size(), 5u) << c.length;
        EXPECT_EQ(lines[3], std::string("ibwrt(16,\"") + c.digits + "\")") << c.length;
        EXPECT_EQ(lines[4], std::string("ibwrt(16,\"") + c.count + "\")") << c.length;
        std::vector<std::int16_t> samples(static_cast<std::size_t>(c.length), 1);
        EXPECT_EQ(wire(), niWire("tone", samples, samples)) << c.length;
    }
}

TEST_F(TransferTest, TheSiclBlockComesFromTheLibrarysWordFormat) {
    for (int length : {1, 5, 499, 500}) {
        resetAll();
        setUpBus(Lib::kSicl);
        std::vector<double> ones(static_cast<std::size_t>(length), 1.0);
        download(ones, ones, "tone");
        std::vector<std::int16_t> samples(static_cast<std::size_t>(length), 1);
        EXPECT_EQ(wire(), siclWire("tone", samples, samples)) << length;
    }
}

TEST_F(TransferTest, NamesOfAnyLengthAreSentWhole) {
    for (Lib lib : {Lib::kNi, Lib::kSicl}) {
        for (std::size_t length : {1u, 59u, 60u, 61u, 64u, 100u, 1000u, 10000u}) {
            resetAll();
            setUpBus(lib);
            std::string name;
            for (std::size_t k = 0; k < length; ++k) name += static_cast<char>('a' + k % 26);
            download({1.0, 2.0}, {3.0, 4.0}, name);
            std::vector<std::string> expected =
                lib == Lib::kNi ? concat(concat({"ibtmo(16,12)"}, niPartTrace(16, "arbi:", name, 2)),
                                         concat(niPartTrace(16, "arbq:", name, 2), closeTrace(lib)))
                                : concat(concat({"itimeout(2,3000)"}, siclPartTrace(2, "arbi:", name, 2)),
                                         concat(siclPartTrace(2, "arbq:", name, 2), closeTrace(lib)));
            EXPECT_EQ(transferTrace(lib), expected) << libName(lib) << " " << length;
            std::vector<std::int16_t> i = {1, 2}, q = {3, 4};
            EXPECT_EQ(wire(), lib == Lib::kNi ? niWire(name, i, q) : siclWire(name, i, q)) << libName(lib) << " " << length;
        }
    }
}

TEST_F(TransferTest, PercentSignsInANameAreTextNotFormat) {
    for (Lib lib : {Lib::kNi, Lib::kSicl}) {
        resetAll();
        setUpBus(lib);
        download({1.0}, {2.0}, "a%s%d%n%%");
        std::vector<std::int16_t> i = {1}, q = {2};
        EXPECT_EQ(wire(), lib == Lib::kNi ? niWire("a%s%d%n%%", i, q) : siclWire("a%s%d%n%%", i, q)) << libName(lib);
    }
}

TEST_F(TransferTest, AFailedSampleWriteIsReportedAndEndsThePartsButStillCloses) {
    struct Case {
        Lib lib;
        int failing;  // 1: the I part, 2: the Q part
    };
    const Case cases[] = {{Lib::kNi, 1}, {Lib::kNi, 2}, {Lib::kSicl, 1}, {Lib::kSicl, 2}};
    for (const Case &c : cases) {
        resetAll();
        setUpBus(c.lib);
        fakebus::bus().failSampleWrite = c.failing;
        download({1.0, 2.0}, {3.0, 4.0}, "tone");
        const char *part = c.failing == 1 ? "real" : "imaginary";
        std::string what = std::string(libName(c.lib)) + " " + part;

        std::vector<std::string> lines = {"Timeout set to 3 seconds.\n", kLoadingReal};
        if (c.failing == 2) lines.push_back(kLoadingImaginary);
        lines.push_back(std::string("Writing the ") + part + " part to the dual arb failed.\n");
        EXPECT_EQ(printed(), concat(discoveryLines(c.lib), lines)) << what;

        // The trace up to the failed write (with NI-488.2 the byte swap is
        // turned off again), then the device clear and the close.
        std::vector<std::string> expected = {c.lib == Lib::kNi ? "ibtmo(16,12)" : "itimeout(2,3000)"};
        for (int k = 1; k <= c.failing; ++k) {
            const char *prefix = k == 1 ? "arbi:" : "arbq:";
            expected = concat(expected, c.lib == Lib::kNi ? niPartTrace(16, prefix, "tone", 2)
                                                          : siclPartTrace(2, prefix, "tone", 2));
        }
        expected = concat(concat(expected, clearTrace(c.lib)), closeTrace(c.lib));
        EXPECT_EQ(transferTrace(c.lib), expected) << what;
        EXPECT_EQ(fakebus::bus().devices[19].clears, 2) << what;  // the probe's and this one
        EXPECT_EQ(fakebus::openSiclSessions() + fakebus::onlineNiDescriptors(), 0) << what;
    }
}

// Writes to the instrument are numbered from 1, the identity query. With
// NI-488.2 a part is four writes (command, digit, count, samples); with SICL
// two (command, block). A part stops at its first failed write: nothing more
// of it goes out, the Q part does not follow a failed I part, and a device
// clear makes the instrument drop what it holds of the broken part before the
// close.
std::vector<std::string> partWrites(Lib lib, const char *prefix, const std::string &name,
                                    const std::vector<std::int16_t> &samples) {
    std::string header = blockHeader(samples.size());
    if (lib == Lib::kSicl)
        return {std::string("mmem:data \"") + prefix + name + "\",", header + bigEndian(samples) + "\n"};
    std::string count = std::to_string(2 * samples.size());
    return {std::string("mmem:data \"") + prefix + name + "\", #", std::to_string(count.size()), count,
            bigEndian(samples)};
}

TEST_F(TransferTest, APartStopsAtItsFirstFailedWriteAndIsClearedBeforeTheClose) {
    const std::vector<std::int16_t> i = {1, 2}, q = {3, 4};
    for (Lib lib : {Lib::kNi, Lib::kSicl}) {
        std::vector<std::string> writes = {"*IDN?"};
        writes = concat(writes, partWrites(lib, "arbi:", "tone", i));
        writes = concat(writes, partWrites(lib, "arbq:", "tone", q));
        const int perPart = lib == Lib::kNi ? 4 : 2;
        for (int failing = 1; failing <= static_cast<int>(writes.size()); ++failing) {
            resetAll();
            setUpBus(lib);
            fakebus::bus().devices[19].failWrites = {failing};
            download({1.0, 2.0}, {3.0, 4.0}, "tone");
            std::string what = std::string(libName(lib)) + " write " + std::to_string(failing);

            // The query is not part of the transfer: the fake instrument
            // answers all the same, and the download goes through.
            if (failing == 1) {
                EXPECT_EQ(printed().back(), kDone) << what;
                continue;
            }
            int part = (failing - 2) / perPart + 1;
            int step = (failing - 2) % perPart;  // which write of the part
            std::vector<std::string> lines = {"Timeout set to 3 seconds.\n", kLoadingReal};
            if (part == 2) lines.push_back(kLoadingImaginary);
            lines.push_back(std::string("Writing the ") + (part == 1 ? "real" : "imaginary") +
                            " part to the dual arb failed.\n");
            EXPECT_EQ(printed(), concat(discoveryLines(lib), lines)) << what;

            std::vector<std::string> expected = {lib == Lib::kNi ? "ibtmo(16,12)" : "itimeout(2,3000)"};
            if (part == 2)
                expected = concat(expected, lib == Lib::kNi ? niPartTrace(16, "arbi:", "tone", 2)
                                                            : siclPartTrace(2, "arbi:", "tone", 2));
            std::vector<std::string> broken = lib == Lib::kNi ? niPartTrace(16, part == 1 ? "arbi:" : "arbq:", "tone", 2)
                                                              : siclPartTrace(2, part == 1 ? "arbi:" : "arbq:", "tone", 2);
            // The part's calls up to its failed write: with NI-488.2 the writes
            // are calls 1, 2, 3 and 6, and swapping is turned off after a
            // failed sample write.
            const std::size_t niLastCall[] = {2, 3, 4, 8};
            broken.resize(lib == Lib::kNi ? niLastCall[step] : static_cast<std::size_t>(step) + 1);
            expected = concat(concat(concat(expected, broken), clearTrace(lib)), closeTrace(lib));
            EXPECT_EQ(transferTrace(lib), expected) << what;

            std::string reached;
            for (int k = 1; k < failing; ++k) reached += writes[static_cast<std::size_t>(k - 1)];
            EXPECT_EQ(wire(), reached) << what;
            EXPECT_EQ(fakebus::bus().devices[19].failedWrites, std::vector<int>{failing}) << what;
            EXPECT_EQ(fakebus::openSiclSessions() + fakebus::onlineNiDescriptors(), 0) << what;
        }
    }
}

// SICL's formatted write reports success with 0 and anything else is an
// error number; a count of bytes or characters is never its result.
TEST_F(TransferTest, ASiclPartWhoseFormattedWriteReturnsAnythingButZeroFails) {
    for (int result : {1, 15, 17, -1}) {
        for (int failing : {2, 3, 4, 5}) {
            resetAll();
            setUpBus(Lib::kSicl);
            fakebus::bus().devices[19].failWrites = {failing};
            fakebus::bus().devices[19].siclFailResult = result;
            download({1.0, 2.0}, {3.0, 4.0}, "tone");
            std::string what = "iprintf result " + std::to_string(result) + " at write " + std::to_string(failing);
            const char *part = failing <= 3 ? "real" : "imaginary";
            EXPECT_EQ(printed().back(), std::string("Writing the ") + part + " part to the dual arb failed.\n")
                << what;
            EXPECT_EQ(std::count(printed().begin(), printed().end(), std::string(kDone)), 0) << what;
            std::vector<std::string> sent = transferTrace(Lib::kSicl);
            ASSERT_GE(sent.size(), 3u) << what;
            EXPECT_EQ(std::vector<std::string>(sent.end() - 3, sent.end()),
                      concat(clearTrace(Lib::kSicl), closeTrace(Lib::kSicl)))
                << what;
            EXPECT_EQ(fakebus::openSiclSessions(), 0) << what;
        }
    }
}

// A driver that cannot switch END or byte swapping would send a block the
// instrument cannot store, or store the wrong way round: the part fails
// without its samples. Nothing of it goes out when END cannot be had; when
// swapping cannot be had the header is out, so the instrument is cleared.
TEST_F(TransferTest, APartTheDriverCannotFrameOrSwapIsNotSent) {
    struct Case {
        const char *missing;
        std::size_t sent;  // how much of the I part's calls reach the driver
        bool cleared;
    };
    // The part's calls: END off, the three header writes, END on, swapping.
    const Case cases[] = {{"ibeot", 0, false}, {"ibconfig", 5, true}};
    for (const Case &c : cases) {
        resetAll();
        std::map<std::string, void *> symbols = fakebus::niSymbols();
        symbols.erase(c.missing);
        fakekernel::addLibrary(fakebus::niLibraryPath(), symbols);
        fakekernel::kernel().presentFiles.insert(fakebus::niLibraryPath());
        fakebus::bus().niBoards = {0};
        fakebus::addDevice(19, fakebus::kvrReply());
        download({1.0, 2.0}, {3.0, 4.0}, "tone");
        EXPECT_EQ(printed(), concat(discoveryLines(Lib::kNi),
                                    {"Timeout set to 3 seconds.\n", kLoadingReal,
                                     "Writing the real part to the dual arb failed.\n"}))
            << c.missing;
        std::vector<std::string> part = niPartTrace(16, "arbi:", "tone", 2);
        part.resize(c.sent);
        std::vector<std::string> expected = concat({"ibtmo(16,12)"}, part);
        if (c.cleared) expected = concat(expected, clearTrace(Lib::kNi));
        EXPECT_EQ(transferTrace(Lib::kNi), concat(expected, closeTrace(Lib::kNi))) << c.missing;
        EXPECT_EQ(fakebus::onlineNiDescriptors(), 0) << c.missing;
    }
}

// A driver that leaves byte swapping on would send the Q part's command text
// swapped: the I part is stored, but the download stops there.
TEST_F(TransferTest, ByteSwappingThatCannotBeTurnedOffEndsTheDownload) {
    setUpBus(Lib::kNi);
    fakebus::bus().swapOffFails = true;
    download({1.0, 2.0}, {3.0, 4.0}, "tone");
    EXPECT_EQ(printed(), concat(discoveryLines(Lib::kNi), {"Timeout set to 3 seconds.\n", kLoadingReal,
                                                           "Writing the real part to the dual arb failed.\n"}));
    EXPECT_EQ(transferTrace(Lib::kNi),
              concat(concat(concat({"ibtmo(16,12)"}, niPartTrace(16, "arbi:", "tone", 2)), clearTrace(Lib::kNi)),
                     closeTrace(Lib::kNi)));
    EXPECT_EQ(wire(), "*IDN?mmem:data \"arbi:tone\", #14" + bigEndian({1, 2}));
}

TEST_F(TransferTest, NothingToSendStillClosesTheInstrument) {
    for (Lib lib : {Lib::kNi, Lib::kSicl}) {
        for (int rows : {0, 1}) {
            resetAll();
            setUpBus(lib);
            host::Array iq = fakehost::complexArray(rows, 1 - rows);
            host::Array name = fakehost::charArray("empty");
            EXPECT_EQ(fakehost::callGateway({&iq, &name}), fakehost::CallResult::kReturned);
            EXPECT_EQ(printed(), concat({"Save to Waveform: empty \n", "Waveform Length = 0 points.\n"},
                                        discoveryLines(lib)))
                << libName(lib);
            EXPECT_EQ(transferTrace(lib), closeTrace(lib)) << libName(lib);
            EXPECT_EQ(wire(), "*IDN?") << libName(lib);
            EXPECT_EQ(fakebus::openSiclSessions() + fakebus::onlineNiDescriptors(), 0) << libName(lib);
        }
    }
}

TEST_F(TransferTest, AWaveformTooLongIsRefusedBeforeAnyLibraryOrBusTraffic) {
    for (int length : {kMaxSamples + 1, 500000000, INT_MAX}) {
        resetAll();
        fakebus::installNi();
        fakebus::installSicl();
        fakebus::bus().niBoards = {0};
        fakebus::addDevice(19, fakebus::kvrReply());
        double value = 1.0;
        std::int16_t sample = 0;
        downloadWaveform({&value, &value, 1}, length, &sample, "long");
        std::string line = "Waveform too long: " + std::to_string(length) +
                           " points; one part holds at most 499999999 points.\n";
        EXPECT_EQ(printed(), concat(bannerLines(), {line})) << length;
        EXPECT_TRUE(fakekernel::loadedPaths().empty()) << length;
        EXPECT_TRUE(trace().empty()) << length;
        EXPECT_EQ(sample, 0) << length;
    }
    EXPECT_TRUE(waveformFits(kMaxSamples));
    EXPECT_FALSE(waveformFits(kMaxSamples + 1));
    EXPECT_EQ(kMaxSamples, 499999999);
}

}  // namespace
