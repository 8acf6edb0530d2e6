// The choice of bus library from the files in the system directory, the
// binding of the SICL entries by full path, and what an unusable SICL library says.
#include "unit_fixture.h"

namespace {

const char kHpib[] = "Using Hewlett-Packard HP-IB Card.\n";
const char kNi[] = "Using National Instruments GPIB Card.\n";
const char kNoCard[] = "No GPIB Card driver found.\n";
const char kNoInterface[] = "No GPIB configured Interface was found.\n";

class LibraryChoiceTest : public UnitTest {};

TEST_F(LibraryChoiceTest, TheFilesInTheSystemDirectoryChooseTheLibrary) {
    struct Case {
        const char *what;
        bool siclFile, siclLoadable, niFile, siclElsewhere;
        BusKind kind;
        const char *message;
    };
    const Case cases[] = {
        {"neither", false, false, false, false, kBusNone, kNoCard},
        {"only the SICL file", true, true, false, false, kBusSicl, kHpib},
        {"only the NI file", false, false, true, false, kBusNi488, kNi},
        {"both", true, true, true, false, kBusNi488, kNi},
        {"SICL loadable from elsewhere only", false, false, false, true, kBusNone, kNoCard},
        {"SICL elsewhere and NI", false, false, true, true, kBusNi488, kNi},
        {"SICL file that is no library, and NI", true, false, true, false, kBusNi488, kNi},
    };
    for (const Case &c : cases) {
        resetAll();
        if (c.siclFile) fakekernel::kernel().presentFiles.insert(fakebus::siclLibraryPath());
        if (c.siclLoadable) fakekernel::addLibrary(fakebus::siclLibraryPath(), fakebus::siclSymbols());
        if (c.siclElsewhere) {
            // A copy the library search would find (working directory, path), never the system's.
            fakekernel::addLibrary("sicl32.dll", fakebus::siclSymbols());
            fakekernel::addLibrary("/home/user/data/sicl32.dll", fakebus::siclSymbols());
        }
        if (c.niFile) fakebus::installNi();

        DownloadState state = freshState();
        selectBusLibrary(&state);
        EXPECT_EQ(state.busKind, c.kind) << c.what;
        EXPECT_EQ(printed(), std::vector<std::string>{c.message}) << c.what;
        EXPECT_EQ(state.siclModule != nullptr, c.siclLoadable) << c.what;
        EXPECT_EQ(fakekernel::loadedPaths(), std::vector<std::string>{fakebus::siclLibraryPath()}) << c.what;
        EXPECT_TRUE(fakekernel::callsStartingWith("LoadLibraryA(" + fakebus::niLibraryPath()).empty())
            << "the stage itself never loads the NI-488.2 driver: " << c.what;
        if (state.siclModule != nullptr) {
            for (void *entry : {reinterpret_cast<void *>(state.sicl.iopen), reinterpret_cast<void *>(state.sicl.iprintf)})
                EXPECT_NE(entry, nullptr) << c.what;
            platform::FreeLibrary(state.siclModule);
        }
    }
}

TEST_F(LibraryChoiceTest, TheSiclEntriesAreBoundByNameInTableOrder) {
    fakebus::installSicl();
    DownloadState state = freshState();
    selectBusLibrary(&state);
    ASSERT_NE(state.siclModule, nullptr);
    const std::vector<std::string> expected = {
        "GetProcAddress(sicl32.dll,iopen)=ok",   "GetProcAddress(sicl32.dll,iclose)=ok",
        "GetProcAddress(sicl32.dll,iwrite)=ok",  "GetProcAddress(sicl32.dll,iclear)=ok",
        "GetProcAddress(sicl32.dll,itimeout)=ok", "GetProcAddress(sicl32.dll,iread)=ok",
        "GetProcAddress(sicl32.dll,ilocal)=ok",  "GetProcAddress(sicl32.dll,iprintf)=ok"};
    EXPECT_EQ(fakekernel::callsStartingWith("GetProcAddress"), expected);
    std::map<std::string, void *> symbols = fakebus::siclSymbols();
    EXPECT_EQ(reinterpret_cast<void *>(state.sicl.iopen), symbols["iopen"]);
    EXPECT_EQ(reinterpret_cast<void *>(state.sicl.iclose), symbols["iclose"]);
    EXPECT_EQ(reinterpret_cast<void *>(state.sicl.iwrite), symbols["iwrite"]);
    EXPECT_EQ(reinterpret_cast<void *>(state.sicl.iclear), symbols["iclear"]);
    EXPECT_EQ(reinterpret_cast<void *>(state.sicl.itimeout), symbols["itimeout"]);
    EXPECT_EQ(reinterpret_cast<void *>(state.sicl.iread), symbols["iread"]);
    EXPECT_EQ(reinterpret_cast<void *>(state.sicl.ilocal), symbols["ilocal"]);
    EXPECT_EQ(reinterpret_cast<void *>(state.sicl.iprintf), symbols["iprintf"]);
    platform::FreeLibrary(state.siclModule);
}

TEST_F(LibraryChoiceTest, ASiclLibraryThatCannotBeUsedIsNamedAndNeverCalled) {
    struct Case {
        std::vector<std::string> missing;  // entries the library lacks; empty with loadable=false
        bool loadable;
        std::string message;
    };
    std::vector<Case> cases = {
        {{}, false, "The SICL library sicl32.dll could not be loaded; it cannot be used.\n"},
        {{"iclear", "iprintf"}, true, "The SICL library sicl32.dll lacks the entry iclear; it cannot be used.\n"},
        {{"iread", "iopen"}, true, "The SICL library sicl32.dll lacks the entry iopen; it cannot be used.\n"},
    };
    for (const char *entry : {"iopen", "iclose", "iwrite", "iclear", "itimeout", "iread", "ilocal", "iprintf"})
        cases.push_back({{entry}, true,
                         std::string("The SICL library sicl32.dll lacks the entry ") + entry + "; it cannot be used.\n"});
    for (const Case &c : cases) {
        resetAll();
        fakekernel::kernel().presentFiles.insert(fakebus::siclLibraryPath());
        if (c.loadable) {
            std::map<std::string, void *> symbols = fakebus::siclSymbols();
            for (const std::string &name : c.missing) symbols.erase(name);
            fakekernel::addLibrary(fakebus::siclLibraryPath(), symbols);
        }
        fakebus::bus().siclInterfaces = {"hpib"};
        fakebus::addDevice(19, fakebus::kvrReply());

        download({1, 2, 3}, {4, 5, 6}, "tone");
        EXPECT_EQ(printed(), concat(bannerLines(), {kHpib, c.message, kNoInterface})) << c.message;
        EXPECT_TRUE(trace().empty()) << c.message;
        EXPECT_EQ(fakekernel::liveHandles(), 0) << "the SICL library is released: " << c.message;
    }
}

TEST_F(LibraryChoiceTest, AnUnusableSiclLibraryBesideTheNiDriverLeavesTheNiPathAlone) {
    std::map<std::string, void *> symbols = fakebus::siclSymbols();
    symbols.erase("iread");
    fakekernel::addLibrary(fakebus::siclLibraryPath(), symbols);
    fakekernel::kernel().presentFiles.insert(fakebus::siclLibraryPath());
    fakebus::installNi();
    download({1}, {2}, "tone");
    ASSERT_GE(printed().size(), 4u);
    EXPECT_EQ(printed()[2], kNi);
    EXPECT_EQ(printed()[3], kNoInterface);
    EXPECT_EQ(trace(), (std::vector<std::string>{"ibfindA(gpib0)", "ibfindA(gpib1)", "ibfindA(gpib2)", "ibfindA(gpib3)"}));
}

TEST_F(LibraryChoiceTest, SystemDirectoriesOfAnyLengthGiveWholePaths) {
    for (std::size_t length : {1u, 12u, 67u, 68u, 70u, 79u, 80u, 81u, 300u, 4000u}) {
        resetAll();
        std::string folder = "/";
        while (folder.size() < length) folder += static_cast<char>('a' + folder.size() % 26);
        if (length == 1) folder = "/s";
        fakekernel::kernel().systemDirectory = folder;
        fakebus::installSicl();
        fakebus::installNi();
        fakebus::bus().niBoards = {0};
        fakebus::addDevice(19, fakebus::kvrReply());

        download({1}, {2}, "tone");
        EXPECT_EQ(fakekernel::loadedPaths(),
                  (std::vector<std::string>{folder + "/sicl32.dll", folder + "/GPIB-32.DLL"}))
            << length;
        EXPECT_EQ(fakekernel::callsStartingWith("fileIsPresent"),
                  (std::vector<std::string>{"fileIsPresent(" + folder + "/sicl32.dll)=yes",
                                            "fileIsPresent(" + folder + "/gpib-32.dll)=yes"}))
            << length;
        ASSERT_GE(printed().size(), 3u);
        EXPECT_EQ(printed()[2], kNi) << length;
        EXPECT_EQ(printed().back(), "Done loading the waveform into the KVR dual arb.\n") << length;
    }
}

TEST_F(LibraryChoiceTest, TheSiclLibraryIsReleasedAtTheEndOfEveryDownload) {
    fakebus::installSicl();
    fakebus::installNi();
    fakebus::bus().niBoards = {0};
    fakebus::addDevice(19, fakebus::kvrReply());
    for (int round = 0; round < 3; ++round) {
        download({1}, {2}, "tone");
        EXPECT_EQ(fakekernel::liveHandles(fakebus::siclLibraryPath()), 0) << round;
    }
    EXPECT_EQ(fakekernel::callsStartingWith("FreeLibrary(sicl32.dll)").size(), 3u);
    // The NI-488.2 driver was loaded once and stays loaded.
    EXPECT_EQ(fakekernel::callsStartingWith("LoadLibraryA(" + fakekernel::systemPath("GPIB-32.DLL")).size(), 1u);
    EXPECT_EQ(fakekernel::liveHandles(fakebus::niLibraryPath()), 1);
}

}  // namespace
