// Interface discovery with both libraries and the instrument walk: the order
// of names and addresses, the identity markers, and the close of every probe.
#include "unit_fixture.h"

namespace {

const char kNoInterface[] = "No GPIB configured Interface was found.\n";
const char kNoInstrument[] = "No KVR-D found.\n";

// The addresses in the order the walk probes them.
std::vector<int> walkOrder() {
    std::vector<int> order;
    for (int k = 0; k < 32; ++k) order.push_back(k + 19 > 31 ? k + 19 - 31 : k + 19);
    return order;
}

bool replyMatches(const std::string &reply) {
    std::string seen = reply.substr(0, kReplySize);
    return seen.find("KVR-D") != std::string::npos || seen.find("K207") != std::string::npos;
}

// What the bus should see for the walk over the bus as set up: the probes in
// walk order up to the first match, each with its close.
std::vector<std::string> expectedSiclWalk(const std::string &interfaceName, int firstId, int *found) {
    std::vector<std::string> lines;
    const fakebus::Bus &bus = fakebus::bus();
    int id = firstId;
    *found = -1;
    for (int address : walkOrder()) {
        std::string where = interfaceName + "," + std::to_string(address);
        lines.push_back("iopen(" + where + ")");
        if (bus.siclOpenFailsAt.count(address) != 0) continue;
        std::string s = std::to_string(id++);
        lines.insert(lines.end(), {"itimeout(" + s + ",20)", "iclear(" + s + ")", "iwrite(" + s + ",\"*IDN?\",5,1)",
                                   "iread(" + s + ",120)"});
        auto device = bus.devices.find(address);
        bool answers = device != bus.devices.end() && device->second.answers;
        if (answers && replyMatches(device->second.reply)) {
            *found = address;
            break;
        }
        if (answers) lines.push_back("ilocal(" + s + ")");
        lines.push_back("iclose(" + s + ")");
    }
    return lines;
}

std::vector<std::string> expectedNiWalk(int board, int firstDescriptor, int *found) {
    std::vector<std::string> lines;
    const fakebus::Bus &bus = fakebus::bus();
    int ud = firstDescriptor;
    *found = -1;
    for (int address : walkOrder()) {
        std::string d = std::to_string(ud++);
        lines.insert(lines.end(), {"ibdev(" + std::to_string(board) + "," + std::to_string(address) + ",0,8,1,0)",
                                   "ibclr(" + d + ")", "ibwrt(" + d + ",\"*IDN?\")", "ibrd(" + d + ",120)"});
        auto device = bus.devices.find(address);
        if (device != bus.devices.end() && device->second.answers && replyMatches(device->second.reply)) {
            *found = address;
            break;
        }
        lines.insert(lines.end(), {"ibloc(" + d + ")", "ibonl(" + d + ",0)"});
    }
    return lines;
}

class DiscoveryTest : public UnitTest {
protected:
    // Runs the first two stages and gives back the state.
    static DownloadState chooseAndFindInterface() {
        DownloadState state = freshState();
        selectBusLibrary(&state);
        findInterface(&state);
        return state;
    }

    static void finish(DownloadState *state) {
        if (state->address >= 0) closeInstrument(state);
        if (state->siclModule != nullptr) platform::FreeLibrary(state->siclModule);
        state->siclModule = nullptr;
    }
};

TEST_F(DiscoveryTest, SiclTriesItsFourPassesOfNamesUntilOneOpens) {
    struct Case {
        const char *what;
        std::set<std::string> configured;
        std::string chosen;  // empty: none
    };
    const Case cases[] = {
        {"hpib", {"hpib", "hpib3", "gpib"}, "hpib"},
        {"hpib3", {"hpib3", "hpib4", "gpib"}, "hpib3"},
        {"hpib31", {"hpib31"}, "hpib31"},
        {"bare gpib", {"gpib", "gpib0"}, "gpib"},
        {"only gpib7", {"gpib7"}, "gpib7"},
        {"gpib0 before gpib7", {"gpib7", "gpib0"}, "gpib0"},
        {"gpib31", {"gpib31"}, "gpib31"},
        {"none", {}, ""},
        {"only names outside the lists", {"hpib32", "gpib32", "vxi", "HPIB"}, ""},
    };
    for (const Case &c : cases) {
        resetAll();
        fakebus::installSicl();
        fakebus::bus().siclInterfaces = c.configured;
        DownloadState state = chooseAndFindInterface();

        std::vector<std::string> expected;
        bool found = false;
        auto attempt = [&](const std::string &name) {
            if (found) return;
            expected.push_back("iopen(" + name + ")");
            if (c.configured.count(name) != 0) {
                expected.push_back("iclose(1)");
                found = true;
            }
        };
        attempt("hpib");
        for (int i = 0; i < 32; ++i) attempt("hpib" + std::to_string(i));
        attempt("gpib");
        for (int i = 0; i < 32; ++i) attempt("gpib" + std::to_string(i));

        EXPECT_EQ(trace(), expected) << c.what;
        EXPECT_EQ(std::string(state.interfaceName), c.chosen) << c.what;
        std::string message = c.chosen.empty() ? std::string(kNoInterface) : "Interface = " + c.chosen + ".\n";
        EXPECT_EQ(printed(), (std::vector<std::string>{"Using Hewlett-Packard HP-IB Card.\n", message})) << c.what;
        EXPECT_EQ(fakebus::openSiclSessions(), 0) << c.what;
        finish(&state);
    }
}

TEST_F(DiscoveryTest, NiTriesGpib0ToGpib3Only) {
    struct Case {
        const char *what;
        std::set<int> boards;
        std::string chosen;
    };
    const Case cases[] = {
        {"gpib1 and gpib2", {1, 2}, "gpib1"},
        {"gpib0", {0, 3}, "gpib0"},
        {"gpib3", {3}, "gpib3"},
        {"none", {}, ""},
        {"only gpib4", {4, 7}, ""},
    };
    for (const Case &c : cases) {
        resetAll();
        fakebus::installNi();
        fakebus::bus().niBoards = c.boards;
        DownloadState state = chooseAndFindInterface();
        std::vector<std::string> expected;
        for (int i = 0; i < 4; ++i) {
            expected.push_back("ibfindA(gpib" + std::to_string(i) + ")");
            if (c.boards.count(i) != 0) {
                expected.push_back("ibonl(" + std::to_string(i) + ",0)");
                break;
            }
        }
        EXPECT_EQ(trace(), expected) << c.what;
        EXPECT_EQ(std::string(state.interfaceName), c.chosen) << c.what;
        std::string message = c.chosen.empty() ? std::string(kNoInterface) : "Interface = " + c.chosen + ".\n";
        EXPECT_EQ(printed(), (std::vector<std::string>{"Using National Instruments GPIB Card.\n", message}))
            << c.what;
        EXPECT_EQ(fakebus::onlineNiDescriptors(), 0) << c.what;
        for (const std::string &line : trace()) {
            EXPECT_EQ(line.find("hpib"), std::string::npos) << line;
            EXPECT_NE(line, "ibfindA(gpib)");
        }
        finish(&state);
    }
}

// A driver file the language interface cannot load, accept or fully bind is
// named before the stage's own message; the bus sees what it saw before.
TEST_F(DiscoveryTest, AnNiDriverThatCannotBeUsedIsNamedBeforeTheStageMessage) {
    const char kNotLoaded[] = "The NI-488.2 driver GPIB-32.DLL could not be loaded or identified; it cannot be used.\n";
    auto lacks = [](const std::string &entry) {
        return "The NI-488.2 driver GPIB-32.DLL lacks the entry " + entry + "; it cannot be used.\n";
    };
    struct Case {
        const char *what;
        bool loadable;
        std::string missing;  // an export the driver lacks
        std::string notice;   // empty: the expected one
        std::vector<std::string> printed;
    };
    std::string otherNotice = kNi488Notice;
    otherNotice[20] = 'x';
    const Case cases[] = {
        {"a file that does not load", false, "", "", {kNotLoaded, kNoInterface}},
        {"another notice", true, "", otherNotice, {kNotLoaded, kNoInterface}},
        {"no status word", true, vendor::kNiStatusExport, "", {kNotLoaded, kNoInterface}},
        {"no notice", true, vendor::kNiNoticeExport, "", {kNotLoaded, kNoInterface}},
        {"no ibfindA", true, "ibfindA", "", {lacks("ibfindA"), kNoInterface}},
        {"no ibdev", true, "ibdev", "", {"Interface = gpib0.\n", lacks("ibdev"), kNoInstrument}},
        {"no ibwrt", true, "ibwrt", "", {"Interface = gpib0.\n", lacks("ibwrt"), kNoInstrument}},
        {"no ibrd", true, "ibrd", "", {"Interface = gpib0.\n", lacks("ibrd"), kNoInstrument}},
        {"a board but no instrument", true, "", "", {"Interface = gpib0.\n", kNoInstrument}},
    };
    for (const Case &c : cases) {
        resetAll();
        fakekernel::kernel().presentFiles.insert(fakebus::niLibraryPath());
        std::map<std::string, void *> symbols = fakebus::niSymbols();
        symbols.erase(c.missing);
        if (c.loadable) fakekernel::addLibrary(fakebus::niLibraryPath(), symbols);
        if (!c.notice.empty()) fakebus::setNotice(c.notice);
        fakebus::bus().niBoards = {0};
        DownloadState state = chooseAndFindInterface();
        if (state.interfaceName[0] != '\0') findInstrument(&state);
        EXPECT_EQ(printed(), concat({"Using National Instruments GPIB Card.\n"}, c.printed)) << c.what;
        // Only an accepted driver reaches the bus.
        bool accepted = c.printed[0] != kNotLoaded;
        EXPECT_EQ(trace().empty(), !accepted || c.missing == "ibfindA") << c.what;
        EXPECT_EQ(fakebus::onlineNiDescriptors(), 0) << c.what;
        finish(&state);
    }
}

TEST_F(DiscoveryTest, WithNoDriverNothingIsTried) {
    DownloadState state = chooseAndFindInterface();
    EXPECT_TRUE(trace().empty());
    EXPECT_EQ(printed(), (std::vector<std::string>{"No GPIB Card driver found.\n", kNoInterface}));
    EXPECT_EQ(state.interfaceName[0], '\0');
    EXPECT_TRUE(fakekernel::callsStartingWith("LoadLibraryA(" + fakekernel::systemPath("GPIB-32.DLL")).empty());
}

// One set-up of the bus for the walk, run with both libraries.
struct WalkCase {
    const char *what;
    std::map<int, std::string> replies;  // answering devices
    std::set<int> silent;                // devices that never answer
    std::map<int, std::string> stale;    // bytes a read leaves past its count, by address
    int expected;                        // address found, -1 for none
};

std::vector<WalkCase> walkCases() {
    const std::string kvr = fakebus::kvrReply();
    std::string full(120, 'x');
    full.replace(115, 5, "KVR-D");
    std::string beyond(200, 'x');
    beyond.replace(150, 5, "KVR-D");
    std::string straddling(117, 'x');
    straddling += "KVR-D";
    std::string fullK207(116, 'y');
    fullK207 += "K207";
    return {
        {"at 19", {{19, kvr}}, {}, {}, 19},
        {"at 5", {{5, kvr}}, {}, {}, 5},
        {"at 31", {{31, kvr}}, {}, {}, 31},
        {"at 1", {{1, kvr}}, {}, {}, 1},
        {"at 18", {{18, kvr}}, {}, {}, 18},
        {"at 0 only", {{0, kvr}}, {}, {}, -1},
        {"nothing on the bus", {}, {}, {}, -1},
        {"K207 alone", {{7, "K207"}}, {}, {}, 7},
        {"K207 inside a reply", {{7, "ACME,K207B,123,4.5"}}, {}, {}, 7},
        {"KVR-D in the middle of a reply", {{22, "Maker Inc.,Model KVR-D2,SN1,1.0\n"}}, {}, {}, 22},
        {"other letter case does not match", {{19, "kvr-d k207"}, {20, "Kvr-D"}}, {}, {}, -1},
        {"near misses do not match", {{19, "KVR_D"}, {20, "K20 7"}, {21, "KVR-"}, {22, "K2O7"}}, {}, {}, -1},
        {"first of two in walk order: 25 before 3", {{3, kvr}, {25, kvr}}, {}, {}, 25},
        {"first of two in walk order: 2 before 9", {{9, "K207"}, {2, kvr}}, {}, {}, 2},
        {"non-matching devices before the instrument", {{19, "OTHER,DMM"}, {20, "SCOPE"}, {4, kvr}}, {}, {}, 4},
        {"silent devices before the instrument", {{30, kvr}}, {19, 20, 21}, {}, 30},
        {"stale bytes past the count do not match", {{19, "HELLO"}, {20, kvr}}, {}, {{19, "KVR-D K207"}}, 20},
        {"stale bytes of a failed read do not match", {{21, kvr}}, {19}, {{19, "KVR-D"}}, 21},
        {"a full 120-byte reply ending in the marker", {{6, full}}, {}, {}, 6},
        {"a full 120-byte reply ending in K207", {{6, fullK207}}, {}, {}, 6},
        {"a marker past the 120 bytes asked for", {{19, beyond}, {20, straddling}}, {}, {}, -1},
    };
}

void setUpBus(const WalkCase &c) {
    for (const auto &entry : c.replies) fakebus::addDevice(entry.first, entry.second);
    for (int address : c.silent) fakebus::addDevice(address, "KVR-D").answers = false;
    for (const auto &entry : c.stale) fakebus::bus().devices[entry.first].staleTail = entry.second;
}

TEST_F(DiscoveryTest, SiclWalksTheAddressesAndClosesEveryProbeItDoesNotKeep) {
    for (const WalkCase &c : walkCases()) {
        resetAll();
        fakebus::installSicl();
        fakebus::bus().siclInterfaces = {"hpib7"};
        setUpBus(c);
        DownloadState state = chooseAndFindInterface();
        fakebus::bus().trace.clear();
        fakehost::record().printed.clear();
        findInstrument(&state);

        int found = -1;
        std::vector<std::string> expected = expectedSiclWalk("hpib7", 2, &found);
        ASSERT_EQ(found, c.expected) << "the test's own walk: " << c.what;
        EXPECT_EQ(trace(), expected) << c.what;
        EXPECT_EQ(state.address, c.expected) << c.what;
        std::string message = c.expected < 0 ? std::string(kNoInstrument) : "KVR_addr = " + std::to_string(c.expected) + ".\n";
        EXPECT_EQ(printed(), std::vector<std::string>{message}) << c.what;
        EXPECT_EQ(fakebus::openSiclSessions(), c.expected < 0 ? 0 : 1) << c.what;
        if (c.expected >= 0) {
            EXPECT_EQ(fakebus::bus().siclSessions.count(state.siclId), 1u) << c.what;
            EXPECT_EQ(fakebus::bus().siclSessions[state.siclId].address, c.expected) << c.what;
        }
        finish(&state);
        EXPECT_EQ(fakebus::openSiclSessions(), 0) << c.what;
    }
}

TEST_F(DiscoveryTest, NiWalksTheAddressesAndReleasesEveryProbeItDoesNotKeep) {
    for (const WalkCase &c : walkCases()) {
        resetAll();
        fakebus::installNi();
        fakebus::bus().niBoards = {2};
        setUpBus(c);
        DownloadState state = chooseAndFindInterface();
        ASSERT_EQ(std::string(state.interfaceName), "gpib2");
        fakebus::bus().trace.clear();
        fakehost::record().printed.clear();
        findInstrument(&state);

        int found = -1;
        std::vector<std::string> expected = expectedNiWalk(2, 16, &found);
        ASSERT_EQ(found, c.expected) << "the test's own walk: " << c.what;
        EXPECT_EQ(trace(), expected) << c.what;
        EXPECT_EQ(state.address, c.expected) << c.what;
        std::string message = c.expected < 0 ? std::string(kNoInstrument) : "KVR_addr = " + std::to_string(c.expected) + ".\n";
        EXPECT_EQ(printed(), std::vector<std::string>{message}) << c.what;
        EXPECT_EQ(fakebus::onlineNiDescriptors(), c.expected < 0 ? 0 : 1) << c.what;
        if (c.expected >= 0) {
            EXPECT_EQ(fakebus::bus().niDescriptors.count(state.niDevice), 1u) << c.what;
            EXPECT_EQ(fakebus::bus().niDescriptors[state.niDevice].address, c.expected) << c.what;
        }
        finish(&state);
        EXPECT_EQ(fakebus::onlineNiDescriptors(), 0) << c.what;
    }
}

TEST_F(DiscoveryTest, TheWalkWithSiclWrittenOut) {
    // The instrument at 5 behind hpib: probes 19..31 and 1..4 find nobody.
    fakebus::installSicl();
    fakebus::bus().siclInterfaces = {"hpib"};
    fakebus::addDevice(5, fakebus::kvrReply());
    fakebus::addDevice(20, "OTHER");
    DownloadState state = chooseAndFindInterface();
    findInstrument(&state);
    const std::vector<std::string> &lines = trace();
    ASSERT_EQ(lines.size(), 2u + 17u * 6u + 1u + 5u);
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 15),
              (std::vector<std::string>{"iopen(hpib)", "iclose(1)", "iopen(hpib,19)", "itimeout(2,20)", "iclear(2)",
                                        "iwrite(2,\"*IDN?\",5,1)", "iread(2,120)", "iclose(2)", "iopen(hpib,20)",
                                        "itimeout(3,20)", "iclear(3)", "iwrite(3,\"*IDN?\",5,1)", "iread(3,120)",
                                        "ilocal(3)", "iclose(3)"}));
    EXPECT_EQ(std::vector<std::string>(lines.end() - 5, lines.end()),
              (std::vector<std::string>{"iopen(hpib,5)", "itimeout(19,20)", "iclear(19)", "iwrite(19,\"*IDN?\",5,1)",
                                        "iread(19,120)"}));
    EXPECT_EQ(state.siclId, 19);
    EXPECT_EQ(printed().back(), "KVR_addr = 5.\n");
    finish(&state);
}

TEST_F(DiscoveryTest, ASiclProbeWhoseOpenFailsIsSkippedWithoutAnotherCall) {
    fakebus::installSicl();
    fakebus::bus().siclInterfaces = {"hpib"};
    fakebus::bus().siclOpenFailsAt = {19, 21, 22};
    fakebus::addDevice(23, fakebus::kvrReply());
    fakebus::addDevice(21, fakebus::kvrReply());  // behind a failing open: never reached
    DownloadState state = chooseAndFindInterface();
    fakebus::bus().trace.clear();
    findInstrument(&state);
    const std::vector<std::string> expected = {
        "iopen(hpib,19)", "iopen(hpib,20)", "itimeout(2,20)", "iclear(2)", "iwrite(2,\"*IDN?\",5,1)", "iread(2,120)",
        "iclose(2)",      "iopen(hpib,21)", "iopen(hpib,22)", "iopen(hpib,23)", "itimeout(3,20)", "iclear(3)",
        "iwrite(3,\"*IDN?\",5,1)", "iread(3,120)"};
    EXPECT_EQ(trace(), expected);
    EXPECT_EQ(state.address, 23);
    EXPECT_EQ(state.siclId, 3);
    finish(&state);
}

TEST_F(DiscoveryTest, TheNiDescriptorIsUsedAsIbdevGaveIt) {
    // A driver that refuses every device: each probe still runs its calls,
    // on the descriptor -1 it was given, and releases it.
    fakebus::installNi();
    fakebus::bus().niBoards = {0};
    fakebus::bus().niDeviceFails = true;
    fakebus::addDevice(19, fakebus::kvrReply());
    DownloadState state = chooseAndFindInterface();
    fakebus::bus().trace.clear();
    findInstrument(&state);
    std::vector<std::string> expected;
    for (int address : walkOrder())
        expected = concat(expected, {"ibdev(0," + std::to_string(address) + ",0,8,1,0)", "ibclr(-1)",
                                     "ibwrt(-1,\"*IDN?\")", "ibrd(-1,120)", "ibloc(-1)", "ibonl(-1,0)"});
    EXPECT_EQ(trace(), expected);
    EXPECT_EQ(printed().back(), kNoInstrument);
    EXPECT_EQ(state.address, -1);
    fakebus::bus().faults.clear();  // the calls on -1 the fake saw
    finish(&state);
}

TEST_F(DiscoveryTest, TheDeviceNameAndBoardIndexComeFromTheInterfaceName) {
    struct Case {
        bool sicl;
        const char *interfaceName;
        std::string first;
    };
    const Case cases[] = {
        {true, "gpib12", "iopen(gpib12,19)"},
        {true, "hpib", "iopen(hpib,19)"},
        {false, "gpib3", "ibdev(3,19,0,8,1,0)"},
        {false, "gpib0", "ibdev(0,19,0,8,1,0)"},
    };
    for (const Case &c : cases) {
        resetAll();
        if (c.sicl) {
            fakebus::installSicl();
            fakebus::bus().siclInterfaces = {c.interfaceName};
        } else {
            fakebus::installNi();
            fakebus::bus().niBoards = {c.interfaceName[4] - '0'};
        }
        fakebus::addDevice(19, "K207");
        DownloadState state = chooseAndFindInterface();
        ASSERT_EQ(std::string(state.interfaceName), c.interfaceName);
        fakebus::bus().trace.clear();
        findInstrument(&state);
        ASSERT_FALSE(trace().empty());
        EXPECT_EQ(trace()[0], c.first);
        EXPECT_EQ(state.address, 19);
        finish(&state);
    }
}

}  // namespace
