// Whole downloads through the gateway: the complete transcript, bus trace,
// wire bytes, library loads and host blocks of good runs with each library.
#include "unit_fixture.h"
#include "wire.h"

namespace {

class DownloadTest : public UnitTest {};

const std::vector<double> kRe = {1.5, -2.5, 1000.0, -32768.0};
const std::vector<double> kIm = {0.25, 7.0, -1000.9, 32767.0};
const std::vector<std::int16_t> kI = {1, -2, 1000, -32768};
const std::vector<std::int16_t> kQ = {0, 7, -1000, 32767};

std::vector<std::string> goodTranscript(const char *card, const char *interfaceName) {
    return {"Save to Waveform: tone \n",
            "Waveform Length = 4 points.\n",
            "\n",
            "KVR Waveform File Download Program Version 2.0\n",
            card,
            std::string("Interface = ") + interfaceName + ".\n",
            "KVR_addr = 19.\n",
            "Timeout set to 3 seconds.\n",
            "Loading the real part of the data to the dual arb.\n",
            "Loading the imaginary part of the data to the dual arb.\n",
            "Done loading the waveform into the KVR dual arb.\n"};
}

TEST_F(DownloadTest, AGoodNiDownloadFromEndToEnd) {
    fakebus::installNi();
    fakebus::bus().niBoards = {0};
    fakebus::addDevice(19, fakebus::kvrReply());
    host::Array iq = fakehost::complexVector(kRe, kIm);
    host::Array name = fakehost::charArray("tone");
    EXPECT_EQ(fakehost::callGateway({&iq, &name}), fakehost::CallResult::kReturned);

    EXPECT_EQ(printed(), goodTranscript("Using National Instruments GPIB Card.\n", "gpib0"));
    const std::vector<std::string> expected = {
        "ibfindA(gpib0)",
        "ibonl(0,0)",
        "ibdev(0,19,0,8,1,0)",
        "ibclr(16)",
        "ibwrt(16,\"*IDN?\")",
        "ibrd(16,120)",
        "ibtmo(16,12)",
        "ibeot(16,0)",
        "ibwrt(16,\"mmem:data \\\"arbi:tone\\\", #\")",
        "ibwrt(16,\"1\")",
        "ibwrt(16,\"8\")",
        "ibeot(16,1)",
        "ibconfig(16,20,1)",
        "ibwrt(16,<8 bytes>)",
        "ibconfig(16,20,0)",
        "ibeot(16,0)",
        "ibwrt(16,\"mmem:data \\\"arbq:tone\\\", #\")",
        "ibwrt(16,\"1\")",
        "ibwrt(16,\"8\")",
        "ibeot(16,1)",
        "ibconfig(16,20,1)",
        "ibwrt(16,<8 bytes>)",
        "ibconfig(16,20,0)",
        "ibloc(16)",
        "ibonl(16,0)",
    };
    EXPECT_EQ(trace(), expected);
    EXPECT_EQ(fakebus::bus().devices[19].received, niWire("tone", kI, kQ));
    EXPECT_EQ(fakebus::bus().devices[19].received.substr(5, 24), "mmem:data \"arbi:tone\", #");
    EXPECT_EQ(fakekernel::loadedPaths(),
              (std::vector<std::string>{fakekernel::systemPath("sicl32.dll"), fakekernel::systemPath("GPIB-32.DLL")}));
    EXPECT_EQ(fakekernel::liveHandles(fakebus::niLibraryPath()), 1);
    EXPECT_EQ(fakehost::memoryCalls(),
              (std::vector<std::string>{"mxCalloc(5,1)=b1", "mxCalloc(4,2)=b2", "mxFree(b2)", "mxFree(b1)"}));
    EXPECT_EQ(fakebus::onlineNiDescriptors(), 0);
}

TEST_F(DownloadTest, AGoodSiclDownloadFromEndToEnd) {
    fakebus::installSicl();
    fakebus::bus().siclInterfaces = {"hpib"};
    fakebus::addDevice(19, fakebus::kvrReply());
    host::Array iq = fakehost::complexVector(kRe, kIm);
    host::Array name = fakehost::charArray("tone");
    EXPECT_EQ(fakehost::callGateway({&iq, &name}), fakehost::CallResult::kReturned);

    EXPECT_EQ(printed(), goodTranscript("Using Hewlett-Packard HP-IB Card.\n", "hpib"));
    const std::vector<std::string> expected = {
        "iopen(hpib)",
        "iclose(1)",
        "iopen(hpib,19)",
        "itimeout(2,20)",
        "iclear(2)",
        "iwrite(2,\"*IDN?\",5,1)",
        "iread(2,120)",
        "itimeout(2,3000)",
        "iprintf(2,\"mmem:data \\\"arbi:%s\\\",\",\"tone\")",
        "iprintf(2,\"%*wb\\n\",4)",
        "iprintf(2,\"mmem:data \\\"arbq:%s\\\",\",\"tone\")",
        "iprintf(2,\"%*wb\\n\",4)",
        "ilocal(2)",
        "iclose(2)",
    };
    EXPECT_EQ(trace(), expected);
    EXPECT_EQ(fakebus::bus().devices[19].received, siclWire("tone", kI, kQ));
    EXPECT_EQ(fakekernel::loadedPaths(), std::vector<std::string>{fakekernel::systemPath("sicl32.dll")});
    EXPECT_EQ(fakekernel::liveHandles(), 0);
    EXPECT_EQ(fakekernel::callsStartingWith("FreeLibrary"), std::vector<std::string>{"FreeLibrary(sicl32.dll)"});
    EXPECT_EQ(fakehost::memoryCalls(),
              (std::vector<std::string>{"mxCalloc(5,1)=b1", "mxCalloc(4,2)=b2", "mxFree(b2)", "mxFree(b1)"}));
    EXPECT_EQ(fakebus::openSiclSessions(), 0);
}

TEST_F(DownloadTest, TwoDownloadsInARowBehaveAlike) {
    fakebus::installSicl();
    fakebus::installNi();
    fakebus::bus().niBoards = {1};
    fakebus::addDevice(19, fakebus::kvrReply());
    host::Array iq = fakehost::complexVector(kRe, kIm);
    host::Array name = fakehost::charArray("tone");
    for (int round = 0; round < 2; ++round) {
        fakehost::reset();
        fakebus::bus().trace.clear();
        fakebus::bus().devices[19].received.clear();
        EXPECT_EQ(fakehost::callGateway({&iq, &name}), fakehost::CallResult::kReturned);
        EXPECT_EQ(printed(), goodTranscript("Using National Instruments GPIB Card.\n", "gpib1")) << round;
        EXPECT_EQ(fakebus::bus().devices[19].received, niWire("tone", kI, kQ)) << round;
        ASSERT_GE(trace().size(), 4u);
        EXPECT_EQ(trace()[3], "ibdev(1,19,0,8,1,0)") << round;
        EXPECT_EQ(fakehost::record().allocations, 2) << round;
        EXPECT_TRUE(fakehost::record().live.empty()) << round;
    }
    // The NI-488.2 driver was loaded and checked once; the SICL library each time.
    EXPECT_EQ(fakekernel::callsStartingWith("LoadLibraryA(" + fakekernel::systemPath("GPIB-32.DLL")).size(), 1u);
    EXPECT_EQ(fakekernel::callsStartingWith("GetProcAddress(gpib-32.dll,CopyrightString)").size(), 1u);
    EXPECT_EQ(fakekernel::callsStartingWith("LoadLibraryA(" + fakekernel::systemPath("sicl32.dll")).size(), 2u);
    EXPECT_EQ(fakekernel::callsStartingWith("FreeLibrary(sicl32.dll)").size(), 2u);
    EXPECT_EQ(fakekernel::callsStartingWith("GetProcAddress(gpib-32.dll,ibwrt)").size(), 1u)
        << "entries once found are kept";
}

TEST_F(DownloadTest, WhatADownloadPrintsWhenAStageFindsNothing) {
    struct Case {
        const char *what;
        bool ni;
        bool board;
        bool instrument;
        std::vector<std::string> tail;
    };
    const Case cases[] = {
        {"no driver", false, false, false, {"No GPIB Card driver found.\n", "No GPIB configured Interface was found.\n"}},
        {"NI without a board", true, false, true,
         {"Using National Instruments GPIB Card.\n", "No GPIB configured Interface was found.\n"}},
        {"NI board without the instrument", true, true, false,
         {"Using National Instruments GPIB Card.\n", "Interface = gpib0.\n", "No KVR-D found.\n"}},
        {"SICL interface without the instrument", false, true, false,
         {"Using Hewlett-Packard HP-IB Card.\n", "Interface = hpib.\n", "No KVR-D found.\n"}},
    };
    for (const Case &c : cases) {
        resetAll();
        bool sicl = !c.ni && c.board;
        if (c.ni) fakebus::installNi();
        if (sicl) fakebus::installSicl();
        if (c.board) {
            fakebus::bus().niBoards = {0};
            fakebus::bus().siclInterfaces = {"hpib"};
        }
        if (c.instrument) fakebus::addDevice(19, fakebus::kvrReply());
        host::Array iq = fakehost::complexVector(kRe, kIm);
        host::Array name = fakehost::charArray("tone");
        EXPECT_EQ(fakehost::callGateway({&iq, &name}), fakehost::CallResult::kReturned) << c.what;
        EXPECT_EQ(printed(), concat({"Save to Waveform: tone \n", "Waveform Length = 4 points.\n"},
                                    concat(bannerLines(), c.tail)))
            << c.what;
        EXPECT_EQ(fakebus::openSiclSessions() + fakebus::onlineNiDescriptors(), 0) << c.what;
        for (const std::string &line : trace()) {
            EXPECT_EQ(line.find("mmem"), std::string::npos) << c.what;
            EXPECT_EQ(line.find("ibtmo"), std::string::npos) << c.what;
        }
        EXPECT_EQ(fakehost::record().allocations, 2) << c.what;
    }
}

TEST_F(DownloadTest, AReplyInTheBufferFromAnEarlierDownloadDoesNotCarryOver) {
    // The first download finds the instrument; in the second it has gone quiet
    // and the driver leaves the buffer as it was.
    fakebus::installNi();
    fakebus::bus().niBoards = {0};
    fakebus::addDevice(19, fakebus::kvrReply());
    download(kRe, kIm, "tone");
    EXPECT_EQ(printed().back(), "Done loading the waveform into the KVR dual arb.\n");
    fakehost::reset();
    fakebus::bus().devices[19].answers = false;
    download(kRe, kIm, "tone");
    EXPECT_EQ(printed().back(), "No KVR-D found.\n");
}

}  // namespace
