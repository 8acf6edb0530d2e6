// The NI-488.2 language interface: loading and identifying the driver on first
// use, binding and caching its entries, forwarding calls and keeping the status.
#include "guard.h"
#include "unit_fixture.h"

namespace {

class Ni488Test : public UnitTest {
protected:
    static std::string niLoadCall() { return "LoadLibraryA(" + fakekernel::systemPath("GPIB-32.DLL"); }
    static std::size_t loads() { return fakekernel::callsStartingWith(niLoadCall()).size(); }
    static std::size_t frees() { return fakekernel::callsStartingWith("FreeLibrary(gpib-32.dll)").size(); }

    // The status after a failure to load, bind or identify the driver.
    static void expectFailureStatus(unsigned long code, const std::string &what) {
        EXPECT_EQ(ni488::ibsta, vendor::kErr) << what;
        EXPECT_EQ(ni488::iberr, vendor::kEDVR) << what;
        EXPECT_EQ(ni488::ibcnt, static_cast<int>(code)) << what;
        EXPECT_EQ(ni488::ibcntl, static_cast<long>(code)) << what;
    }
};

// Calls every wrapper once; returns the results in the order of the driver's list.
std::vector<int> callEveryWrapper() {
    char buffer[16] = {};
    return {ni488::ibclr(16),      ni488::ibconfig(16, 20, 1), ni488::ibdev(0, 19, 0, 8, 1, 0),
            ni488::ibeot(16, 1),   ni488::ibfindA("gpib0"),    ni488::ibloc(16),
            ni488::ibonl(16, 0),   ni488::ibrd(16, buffer, 16), ni488::ibtmo(16, 12),
            ni488::ibwrt(16, "*IDN?", 5)};
}

TEST_F(Ni488Test, WithoutTheDriverEveryWrapperFailsAndTheNextCallTriesAgain) {
    std::vector<int> results = callEveryWrapper();
    const std::vector<int> expected = {vendor::kErr, vendor::kErr, -1,        vendor::kErr, -1,
                                       vendor::kErr, vendor::kErr, vendor::kErr, vendor::kErr, vendor::kErr};
    EXPECT_EQ(results, expected);
    expectFailureStatus(platform::kErrorModuleNotFound, "no driver");
    EXPECT_EQ(loads(), 10u) << "each call tries to load the driver again";
    EXPECT_EQ(fakekernel::loadedPaths()[0], fakekernel::systemPath("GPIB-32.DLL"));
    EXPECT_TRUE(trace().empty());

    // Once the driver is there the next call finds it.
    fakebus::installNi();
    fakebus::bus().niBoards = {0};
    EXPECT_EQ(ni488::ibfindA("gpib0"), 0);
    EXPECT_EQ(ni488::ibsta, vendor::kCmpl);
    EXPECT_EQ(loads(), 11u);
    EXPECT_EQ(fakekernel::liveHandles(fakebus::niLibraryPath()), 1);
}

TEST_F(Ni488Test, TheNoticeDecidesWhetherTheDriverIsAccepted) {
    const std::string good = kNi488Notice;
    std::string otherYear = good;
    otherYear.replace(kNi488NoticeYearOffset, kNi488NoticeYearLength, "2003");
    std::string nines = good;
    nines.replace(kNi488NoticeYearOffset, kNi488NoticeYearLength, "9999");
    std::string lowerCase = good;
    lowerCase[3] = 'c';
    std::string otherYearAndText = otherYear;
    otherYearAndText[20] = 'x';
    std::string otherVendor = good;
    otherVendor.replace(otherVendor.find("National"), 8, "Nautical");
    std::string lastByte = good;
    lastByte[75] = ' ';
    struct Case {
        const char *what;
        std::string notice;
        bool terminated;
        bool readOnly;
        bool accepted;
    };
    const Case cases[] = {
        {"the expected notice", good, true, false, true},
        {"another year", otherYear, true, false, true},
        {"year 9999", nines, true, false, true},
        {"another year, read-only", otherYear, true, true, true},
        {"the expected notice, read-only", good, true, true, true},
        {"another letter case", lowerCase, true, false, false},
        {"another year and another text", otherYearAndText, true, false, false},
        {"another last byte", lastByte, true, false, false},
        {"another vendor", otherVendor, true, false, false},
        {"empty", "", true, true, false},
        {"3 characters", "abc", true, true, false},
        {"16 characters", good.substr(0, 16), true, true, false},
        {"17 characters", good.substr(0, 17), true, true, false},
        {"75 characters", good.substr(0, 75), true, true, false},
        {"77 characters", good + "x", true, true, false},
        {"77 characters up to the end of the page, unterminated", good + "x", false, true, false},
        {"the notice followed by more text", good + "more text", true, false, false},
    };
    for (const Case &c : cases) {
        resetAll();
        fakebus::installNi();
        fakebus::setNotice(c.notice, c.terminated, c.readOnly);
        fakebus::bus().niBoards = {0};
        fakekernel::kernel().lastError = 1234;  // whatever an earlier failure left
        int descriptor = 99;
        bool finished = runGuarded([&] { descriptor = ni488::ibfindA("gpib0"); });
        ASSERT_TRUE(finished) << "memory fault while checking the notice: " << c.what;
        EXPECT_EQ(fakebus::noticeNow(c.notice.size()), c.notice) << "the driver's notice was written: " << c.what;
        EXPECT_EQ(loads(), 1u) << c.what;
        if (c.accepted) {
            EXPECT_EQ(descriptor, 0) << c.what;
            EXPECT_EQ(ni488::ibsta, vendor::kCmpl) << c.what;
            EXPECT_EQ(frees(), 0u) << c.what;
            EXPECT_EQ(fakekernel::liveHandles(fakebus::niLibraryPath()), 1) << c.what;
            EXPECT_EQ(trace(), std::vector<std::string>{"ibfindA(gpib0)"}) << c.what;
        } else {
            EXPECT_EQ(descriptor, -1) << c.what;
            expectFailureStatus(fakekernel::kernel().lastError, c.what);
            EXPECT_EQ(frees(), 1u) << c.what;
            EXPECT_EQ(fakekernel::liveHandles(), 0) << c.what;
            EXPECT_TRUE(trace().empty()) << c.what;
            // Refused drivers are not kept: the next call tries again.
            EXPECT_EQ(ni488::ibfindA("gpib0"), -1) << c.what;
            EXPECT_EQ(loads(), 2u) << c.what;
            EXPECT_EQ(frees(), 2u) << c.what;
        }
    }
    fakebus::setNotice(kNi488Notice);
}

TEST_F(Ni488Test, TheExportsAreLookedUpInOrderAndAnyMissingOneRefusesTheDriver) {
    fakebus::installNi();
    fakebus::bus().niBoards = {0};
    EXPECT_EQ(ni488::ibfindA("gpib0"), 0);
    const std::vector<std::string> lookups = {
        "GetProcAddress(gpib-32.dll,user_ibsta)=ok", "GetProcAddress(gpib-32.dll,user_iberr)=ok",
        "GetProcAddress(gpib-32.dll,user_ibcntl)=ok", "GetProcAddress(gpib-32.dll,CopyrightString)=ok",
        "GetProcAddress(gpib-32.dll,ibfindA)=ok"};
    EXPECT_EQ(fakekernel::callsStartingWith("GetProcAddress"), lookups);

    for (const char *missing : {vendor::kNiStatusExport, vendor::kNiErrorExport, vendor::kNiCountExport, vendor::kNiNoticeExport}) {
        resetAll();
        std::map<std::string, void *> symbols = fakebus::niSymbols();
        symbols.erase(missing);
        fakekernel::addLibrary(fakebus::niLibraryPath(), symbols);
        fakebus::bus().niBoards = {0};
        EXPECT_EQ(ni488::ibfindA("gpib0"), -1) << missing;
        expectFailureStatus(platform::kErrorProcNotFound, missing);
        EXPECT_EQ(frees(), 1u) << missing;
        EXPECT_EQ(fakekernel::liveHandles(), 0) << missing;
        EXPECT_TRUE(fakekernel::callsStartingWith("GetProcAddress(gpib-32.dll,ibfindA)").empty()) << missing;
        EXPECT_TRUE(trace().empty()) << missing;
        EXPECT_EQ(ni488::ibdev(0, 19, 0, 8, 1, 0), -1) << missing;
        EXPECT_EQ(loads(), 2u) << missing;
    }
}

TEST_F(Ni488Test, AFunctionMissingFromAnAcceptedDriverFailsAloneAndTheDriverStays) {
    std::map<std::string, void *> symbols = fakebus::niSymbols();
    symbols.erase("ibclr");
    symbols.erase("ibdev");
    fakekernel::addLibrary(fakebus::niLibraryPath(), symbols);
    fakebus::bus().niBoards = {0};
    fakekernel::kernel().lastError = 0;

    EXPECT_EQ(ni488::ibclr(16), vendor::kErr);
    expectFailureStatus(platform::kErrorProcNotFound, "ibclr");
    EXPECT_EQ(fakekernel::liveHandles(fakebus::niLibraryPath()), 1);
    EXPECT_EQ(ni488::ibdev(0, 19, 0, 8, 1, 0), -1);
    expectFailureStatus(platform::kErrorProcNotFound, "ibdev");

    EXPECT_EQ(ni488::ibfindA("gpib0"), 0);
    EXPECT_EQ(ni488::ibsta, vendor::kCmpl);
    EXPECT_EQ(ni488::ibonl(0, 0), vendor::kCmpl);
    EXPECT_EQ(trace(), (std::vector<std::string>{"ibfindA(gpib0)", "ibonl(0,0)"}));
    EXPECT_EQ(loads(), 1u);
    EXPECT_EQ(frees(), 0u);
}

TEST_F(Ni488Test, EveryWrapperForwardsItsArgumentsAndResult) {
    fakebus::installNi();
    fakebus::bus().niBoards = {0};
    fakebus::addDevice(19, "KVR-D");
    ASSERT_EQ(ni488::ibdev(0, 19, 0, 8, 1, 0), 16);
    std::vector<int> results = callEveryWrapper();
    const std::vector<std::string> expected = {
        "ibdev(0,19,0,8,1,0)", "ibclr(16)",   "ibconfig(16,20,1)", "ibdev(0,19,0,8,1,0)", "ibeot(16,1)",
        "ibfindA(gpib0)",      "ibloc(16)",   "ibonl(16,0)",       "ibrd(16,16)",         "ibtmo(16,12)",
        "ibwrt(16,\"*IDN?\")"};
    EXPECT_EQ(trace(), expected);
    // Descriptors come back as the driver gave them; the rest is the status word.
    EXPECT_EQ(results[2], 17);
    EXPECT_EQ(results[4], 0);
    EXPECT_EQ(results[0], vendor::kCmpl);
    EXPECT_EQ(results[6], vendor::kCmpl);
    // ibrd on a descriptor taken offline fails in the driver, and the status says so.
    EXPECT_EQ(results[7] & vendor::kErr, vendor::kErr);
    EXPECT_EQ(fakebus::bus().faults.size(), 3u);  // ibrd, ibtmo, ibwrt after ibonl(16,0)
    fakebus::bus().faults.clear();
    // Each entry was looked up once.
    for (const char *entry : {"ibclr", "ibdev", "ibwrt"})
        EXPECT_EQ(fakekernel::callsStartingWith(std::string("GetProcAddress(gpib-32.dll,") + entry + ")").size(), 1u)
            << entry;
    EXPECT_EQ(loads(), 1u);
}

TEST_F(Ni488Test, TheStatusComesFromTheDriverAfterEveryForwardedCall) {
    fakebus::installNi();
    fakebus::bus().niBoards = {0};
    fakebus::addDevice(19, "KVR-D 2470A");
    fakebus::addDevice(20, "").answers = false;
    char reply[120] = {};
    struct Case {
        const char *what;
        int (*call)(char *reply);
        int status, error;
        long count;
    };
    const Case cases[] = {
        {"ibdev", [](char *) { return ni488::ibdev(0, 19, 0, 8, 1, 0); }, vendor::kCmpl, 0, 0},
        {"ibwrt of 5 bytes", [](char *) { return ni488::ibwrt(16, "*IDN?", 5); }, vendor::kCmpl, 0, 5},
        {"ibrd of 11 bytes", [](char *buffer) { return ni488::ibrd(16, buffer, 120); }, vendor::kEnd | vendor::kCmpl, 0, 11},
        {"ibdev at 20", [](char *) { return ni488::ibdev(0, 20, 0, 8, 1, 0); }, vendor::kCmpl, 0, 0},
        {"ibrd that times out", [](char *buffer) { return ni488::ibrd(17, buffer, 120); },
         vendor::kErr | vendor::kTimo | vendor::kCmpl, vendor::kEABO, 0},
        {"ibwrt with no listener", [](char *) { return ni488::ibwrt(17, "*IDN?", 5); }, vendor::kErr | vendor::kCmpl,
         vendor::kENOL, 0},
        {"ibwrt of 3 bytes", [](char *) { return ni488::ibwrt(16, "abc", 3); }, vendor::kCmpl, 0, 3},
    };
    for (const Case &c : cases) {
        int result = c.call(reply);
        EXPECT_EQ(ni488::ibsta, c.status) << c.what;
        EXPECT_EQ(ni488::iberr, c.error) << c.what;
        EXPECT_EQ(ni488::ibcntl, c.count) << c.what;
        EXPECT_EQ(static_cast<long>(ni488::ibcnt), ni488::ibcntl) << c.what;
        if (std::string(c.what).compare(0, 5, "ibdev") != 0) {
            EXPECT_EQ(result, c.status) << c.what;
        }
    }
    EXPECT_EQ(std::string(reply, 11), "KVR-D 2470A");
}

TEST_F(Ni488Test, ResolvingAnEntryGivesTheDriversFunction) {
    fakebus::installNi();
    std::map<std::string, void *> symbols = fakebus::niSymbols();
    EXPECT_EQ(ni488::resolveGpibEntry("ibwrt"), symbols["ibwrt"]);
    EXPECT_EQ(ni488::resolveGpibEntry("ibnothing"), nullptr);
    EXPECT_EQ(ni488::ibsta, vendor::kErr);
    EXPECT_EQ(ni488::ibcnt, platform::kErrorProcNotFound);
    EXPECT_EQ(fakekernel::liveHandles(fakebus::niLibraryPath()), 1);
}

}  // namespace
