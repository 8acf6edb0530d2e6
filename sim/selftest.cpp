// Self-test of the simulator: the bus description, the instrument's parser,
// and both stand-in libraries loaded the way the module loads them.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

// The module's header gives the shared notice text (kNi488Notice) only.
#include "gpib/driver_abi.h"
#include "sim/ni488_interface.h"
#include "sim/sicl_interface.h"
#include "sim/sim.h"

namespace {

namespace fs = std::filesystem;

const char kIdentity[] = "KVR Instruments,KVR-D K2073D,0000731,2.0";

std::string readFile(const fs::path &path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::vector<std::string> readLines(const fs::path &path) {
    std::vector<std::string> lines;
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) lines.push_back(line);
    return lines;
}

// The status file as key -> values (a key may repeat, e.g. open-handle).
std::multimap<std::string, std::string> readStatus(const fs::path &path) {
    std::multimap<std::string, std::string> status;
    for (const std::string &line : readLines(path)) {
        std::size_t space = line.find(' ');
        status.emplace(line.substr(0, space), space == std::string::npos ? "" : line.substr(space + 1));
    }
    return status;
}

std::string statusValue(const std::multimap<std::string, std::string> &status, const std::string &key) {
    auto found = status.find(key);
    return found == status.end() ? "<missing>" : found->second;
}

double millisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// A fresh folder with a bus description, named by the environment.
class BusFolder : public ::testing::Test {
protected:
    void SetUp() override {
        const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "." + info->name();
        for (char &c : name)
            if (c == '/') c = '_';
        folder = fs::temp_directory_path() / ("vandrel-sim-" + std::to_string(getpid())) / name;
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }

    void describe(const std::string &devices) {
        std::ofstream(folder / "bus.txt") << "# simulated bus for " << folder.filename().string() << "\n"
                                          << devices << "store store\ntrace trace.txt\nstatus status\n";
        setenv(SIM_BUS_VARIABLE, (folder / "bus.txt").c_str(), 1);
    }
    std::vector<std::string> trace() const { return readLines(folder / "trace.txt"); }
    std::multimap<std::string, std::string> status(const char *library) const {
        return readStatus(folder / "status" / (std::string(library) + ".status"));
    }
    fs::path stored(const std::string &device, const std::string &memory, const std::string &name) const {
        return folder / "store" / device / memory / (sim::storedFileName(name) + ".bin");
    }

    fs::path folder;
};

// One stand-in, loaded privately and unloaded at the end of the scope.
struct Library {
    explicit Library(const char *path) : handle(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {}
    ~Library() {
        if (handle != nullptr) dlclose(handle);
    }
    template <typename T>
    T *entry(const char *name) const {
        return reinterpret_cast<T *>(dlsym(handle, name));
    }
    void *handle;
};

struct Ni {
    explicit Ni(const Library &library)
        : ibclr(library.entry<ni::Ibclr>("ibclr")),
          ibconfig(library.entry<ni::Ibconfig>("ibconfig")),
          ibdev(library.entry<ni::Ibdev>("ibdev")),
          ibeot(library.entry<ni::Ibeot>("ibeot")),
          ibfindA(library.entry<ni::IbfindA>("ibfindA")),
          ibloc(library.entry<ni::Ibloc>("ibloc")),
          ibonl(library.entry<ni::Ibonl>("ibonl")),
          ibrd(library.entry<ni::Ibrd>("ibrd")),
          ibtmo(library.entry<ni::Ibtmo>("ibtmo")),
          ibwrt(library.entry<ni::Ibwrt>("ibwrt")),
          ibsta(library.entry<int>(SIM_NI_STATUS_EXPORT)),
          iberr(library.entry<int>(SIM_NI_ERROR_EXPORT)),
          ibcntl(library.entry<long>(SIM_NI_COUNT_EXPORT)),
          notice(library.entry<char>(SIM_NI_NOTICE_EXPORT)) {}
    ni::Ibclr *ibclr;
    ni::Ibconfig *ibconfig;
    ni::Ibdev *ibdev;
    ni::Ibeot *ibeot;
    ni::IbfindA *ibfindA;
    ni::Ibloc *ibloc;
    ni::Ibonl *ibonl;
    ni::Ibrd *ibrd;
    ni::Ibtmo *ibtmo;
    ni::Ibwrt *ibwrt;
    int *ibsta;
    int *iberr;
    long *ibcntl;
    char *notice;
};

struct Sicl {
    explicit Sicl(const Library &library)
        : iopen(library.entry<sicl::Iopen>("iopen")),
          iclose(library.entry<sicl::Iclose>("iclose")),
          iwrite(library.entry<sicl::Iwrite>("iwrite")),
          iclear(library.entry<sicl::Iclear>("iclear")),
          itimeout(library.entry<sicl::Itimeout>("itimeout")),
          iread(library.entry<sicl::Iread>("iread")),
          ilocal(library.entry<sicl::Ilocal>("ilocal")),
          iprintf(library.entry<sicl::Iprintf>("iprintf")) {}
    sicl::Iopen *iopen;
    sicl::Iclose *iclose;
    sicl::Iwrite *iwrite;
    sicl::Iclear *iclear;
    sicl::Itimeout *itimeout;
    sicl::Iread *iread;
    sicl::Ilocal *ilocal;
    sicl::Iprintf *iprintf;
};

// ---- the bus description ----------------------------------------------------

TEST(BusDescription, ReadsKeysAndReportsWhatItDoesNotUnderstand) {
    sim::SimBus bus{};
    sim::parseBusDescription(bus,
                             "# a comment\n"
                             "\n"
                             "interface gpib0\n"
                             "interface hpib7\n"
                             "device gpib0 19 kvr\n"
                             "device hpib7 5 foreign Acme,Model 9,1,1.0\n"
                             "device gpib0 7 silent\n"
                             "device gpib3 1 kvr\n"
                             "device gpib0 31 kvr\n"
                             "device gpib0 2 toaster\n"
                             "interface gpib0\n"
                             "store store\n"
                             "trace /abs/trace.txt\n"
                             "wire 1000000\n"
                             "fault drop-bytes\n",
                             "/base");
    ASSERT_EQ(bus.interfaces.size(), 2u);
    EXPECT_EQ(bus.interfaces[0].name, "gpib0");
    EXPECT_EQ(bus.interfaces[1].name, "hpib7");
    EXPECT_EQ(bus.interfaces[0].devices[19].kind, sim::kKvrDevice);
    EXPECT_EQ(bus.interfaces[0].devices[19].identity, kIdentity);
    EXPECT_EQ(bus.interfaces[0].devices[7].kind, sim::kSilentDevice);
    EXPECT_EQ(bus.interfaces[0].devices[20].kind, sim::kNoDevice);
    EXPECT_EQ(bus.interfaces[1].devices[5].kind, sim::kForeignDevice);
    EXPECT_EQ(bus.interfaces[1].devices[5].identity, "Acme,Model 9,1,1.0");
    EXPECT_EQ(bus.storeFolder, (fs::path("/base") / "store").string());
    EXPECT_EQ(bus.traceFile, "/abs/trace.txt");
    EXPECT_EQ(bus.wireBytesPerSecond, 1000000);
    std::vector<std::string> expected = {
        "line 8: device on an undescribed interface \"gpib3\"",
        "line 9: device address \"31\" is not 0..30",
        "line 10: unknown device kind \"toaster\"",
        "line 11: interface gpib0 is described twice",
        "line 15: unknown fault \"drop-bytes\"",
    };
    EXPECT_EQ(bus.problems, expected);
}

TEST(StoredFileName, MapsAnyNameToASafeFileName) {
    struct Case {
        std::string name;
        std::string file;
    };
    const Case cases[] = {
        {"tone", "tone"},
        {"Tone_2-b", "Tone_2-b"},
        {"", "%"},
        {"a b", "a%20b"},
        {"../etc", "%2E%2E%2Fetc"},
        {"c:\\x", "c%3A%5Cx"},
        {"%", "%25"},
        {"\xff\x01", "%FF%01"},
    };
    for (const Case &c : cases) EXPECT_EQ(sim::storedFileName(c.name), c.file) << c.name;

    std::string longName(300, 'x');
    std::string other = longName + "y";
    std::string file = sim::storedFileName(longName);
    EXPECT_EQ(file.size(), 80u + 17u);
    EXPECT_EQ(file.substr(0, 81), std::string(80, 'x') + "~");
    EXPECT_NE(file, sim::storedFileName(other));
    // A cut never splits an escape.
    std::string spaced = std::string(79, 'x') + std::string(30, ' ');
    EXPECT_EQ(sim::storedFileName(spaced).substr(0, 80), std::string(79, 'x') + "~");
}

// ---- the instrument's input, through SICL writes that set END exactly ------

struct Write {
    std::string bytes;
    bool end;
    bool clearFirst;
};
struct StoredFile {
    std::string memory;
    std::string name;
    std::string bytes;
};
struct ParserCase {
    const char *title;
    std::vector<Write> writes;
    std::vector<StoredFile> files;
    std::vector<std::string> errors;  // the error queue afterwards, oldest first
    const char *input;                // where the input stands afterwards (the status file's input=)
};

class InstrumentInput : public BusFolder, public ::testing::WithParamInterface<ParserCase> {};

TEST_P(InstrumentInput, StoresBlocksAndQueuesErrors) {
    const ParserCase &c = GetParam();
    describe("interface gpib0\ndevice gpib0 19 kvr\n");
    Library library(SIM_SICL_LIBRARY);
    ASSERT_NE(library.handle, nullptr) << dlerror();
    Sicl sicl(library);
    int id = sicl.iopen("gpib0,19");
    ASSERT_NE(id, 0);
    ASSERT_EQ(sicl.itimeout(id, 50), 0);
    for (const Write &w : c.writes) {
        if (w.clearFirst) {
            ASSERT_EQ(sicl.iclear(id), 0);
        }
        unsigned long actual = 0;
        ASSERT_EQ(sicl.iwrite(id, w.bytes.data(), w.bytes.size(), w.end ? 1 : 0, &actual), 0);
        EXPECT_EQ(actual, w.bytes.size());
    }
    for (const StoredFile &f : c.files) {
        fs::path path = stored("gpib0-19", f.memory, f.name);
        ASSERT_TRUE(fs::exists(path)) << path;
        EXPECT_EQ(readFile(path), f.bytes) << path;
    }
    std::size_t fileCount = 0;
    if (fs::exists(folder / "store"))
        for (auto &entry : fs::recursive_directory_iterator(folder / "store"))
            fileCount += entry.is_regular_file() ? 1 : 0;
    EXPECT_EQ(fileCount, c.files.size());

    // What the status file shows: the queue's size and entries, and the input.
    auto s = status(SIM_SICL_LIBRARY_FILE);
    EXPECT_EQ(statusValue(s, "device"), "gpib0 19 kvr remote files=" + std::to_string(c.files.size()) +
                                            " errors=" + std::to_string(c.errors.size()) + " input=" + c.input);
    std::vector<std::string> shown;
    for (auto range = s.equal_range("device-error"); range.first != range.second; ++range.first)
        shown.push_back(range.first->second);
    std::vector<std::string> expectedShown;
    for (const std::string &error : c.errors) expectedShown.push_back("gpib0 19 " + error);
    EXPECT_EQ(shown, expectedShown);

    // A device clear ends whatever is under way and keeps the error queue,
    // drained with SYST:ERR?; then the identity still answers.
    ASSERT_EQ(sicl.iclear(id), 0);
    EXPECT_EQ(statusValue(status(SIM_SICL_LIBRARY_FILE), "device"),
              "gpib0 19 kvr remote files=" + std::to_string(c.files.size()) +
                  " errors=" + std::to_string(c.errors.size()) + " input=idle");
    std::vector<std::string> errors;
    for (int i = 0; i < sim::kErrorQueueLimit + 1; ++i) {
        char reply[120] = {};
        unsigned long actual = 0;
        int reason = 0;
        ASSERT_EQ(sicl.iwrite(id, "SYST:ERR?", 9, 1, &actual), 0);
        ASSERT_EQ(sicl.iread(id, reply, sizeof reply, &reason, &actual), 0);
        std::string answer(reply, actual);
        if (answer == "+0,\"No error\"\n") break;
        errors.push_back(answer.substr(0, answer.size() - 1));
    }
    EXPECT_EQ(errors, c.errors);
    char reply[120] = {};
    unsigned long actual = 0;
    int reason = 0;
    ASSERT_EQ(sicl.iwrite(id, "*IDN?", 5, 1, &actual), 0);
    ASSERT_EQ(sicl.iread(id, reply, sizeof reply, &reason, &actual), 0);
    EXPECT_EQ(std::string(reply, actual), std::string(kIdentity) + "\n");
    EXPECT_EQ(statusValue(status(SIM_SICL_LIBRARY_FILE), "device"),
              "gpib0 19 kvr remote files=" + std::to_string(c.files.size()) + " errors=0 input=idle");
}

const char kSyntax[] = "-102,\"Syntax error\"";
const char kInvalidSeparator[] = "-103,\"Invalid separator\"";
const char kBadHeader[] = "-104,\"Data type error; bad block header\"";
const char kParameterNotAllowed[] = "-108,\"Parameter not allowed\"";
const char kUndefinedHeader[] = "-113,\"Undefined header\"";
const char kShortBlock[] = "-161,\"Invalid block data; short block\"";
const char kUnknownMemory[] = "-256,\"File name not found; unknown memory\"";

// Little-endian samples 1, 10 and 0x7fff: the bytes 01 00 0a 00 ff 7f, the
// way samples look on the bus when the driver does not swap them.
const std::string kRawSamples("\x01\x00\x0a\x00\xff\x7f", 6);

const ParserCase kParserCases[] = {
    // -- blocks stored
    {"no space after the comma", {{"mmem:data \"arbi:a\",#14abcd", true, false}}, {{"arbi", "a", "abcd"}}, {}, "idle"},
    {"one space after the comma", {{"mmem:data \"arbq:a\", #14abcd", true, false}}, {{"arbq", "a", "abcd"}}, {}, "idle"},
    {"trailing newline", {{"mmem:data \"arbi:b\",#12xy\n", true, false}}, {{"arbi", "b", "xy"}}, {}, "idle"},
    {"white space before the newline", {{"mmem:data \"arbi:b\",#12xy \r\n", false, false}},
     {{"arbi", "b", "xy"}}, {}, "idle"},
    {"header and block over several writes",
     {{"mmem:data \"arbi:c\", #", false, false}, {"1", false, false}, {"4", false, false}, {"wxyz", true, false}},
     {{"arbi", "c", "wxyz"}},
     {},
     "idle"},
    {"block bytes may hold newlines and END-less splits",
     {{"mmem:data \"arbq:n\",#16\n\n", false, false}, {std::string("\0\0\n\n", 4), true, false}},
     {{"arbq", "n", std::string("\n\n\0\0\n\n", 6)}},
     {},
     "idle"},
    {"upper case", {{"MMEM:DATA \"ARBI:Up\",#11z", true, false}}, {{"arbi", "Up", "z"}}, {}, "idle"},
    {"name holding # , and ;", {{"mmem:data \"arbi:a#b,c;d\",#11q", true, false}},
     {{"arbi", "a#b,c;d", "q"}}, {}, "idle"},
    {"empty block", {{"mmem:data \"arbi:e\",#10", true, false}}, {{"arbi", "e", ""}}, {}, "idle"},
    {"two blocks in a row",
     {{"mmem:data \"arbi:t\",#11a\n", true, false}, {"mmem:data \"arbq:t\",#11b\n", true, false}},
     {{"arbi", "t", "a"}, {"arbq", "t", "b"}},
     {},
     "idle"},
    {"a block, then another unit after a semicolon", {{"mmem:data \"arbi:u\",#11a;*CLS\n", false, false}},
     {{"arbi", "u", "a"}}, {}, "idle"},
    {"newlines between messages", {{"\n\n*CLS\n\n", false, false}}, {}, {}, "idle"},
    // -- END ends a program message wherever it comes
    {"END on a command's last byte", {{"*CLS", false, false}, {"FOO", true, false}}, {}, {kUndefinedHeader}, "idle"},
    {"END inside the header", {{"mmem:data \"arbi:f\",#1", true, false}}, {}, {kShortBlock}, "idle"},
    {"END inside the byte count", {{"mmem:data \"arbi:f\",#29", true, false}}, {}, {kShortBlock}, "idle"},
    {"short block", {{"mmem:data \"arbi:f\",#15ab", true, false}}, {}, {kShortBlock}, "idle"},
    {"memory command without a block", {{"mmem:data \"arbi:x\",", true, false}}, {}, {kBadHeader}, "idle"},
    // -- a message broken off: the instrument waits for the rest
    {"a command without its end", {{"*IDN", false, false}}, {}, {}, "message"},
    {"the memory command without its block", {{"mmem:data \"arbi:w\",", false, false}}, {}, {}, "message"},
    {"the header broken off after #", {{"mmem:data \"arbi:w\", #", false, false}}, {}, {}, "block-header"},
    {"the header broken off in the count", {{"mmem:data \"arbi:w\", #2", false, false}, {"9", false, false}},
     {}, {}, "block-header"},
    {"the block cut short", {{"mmem:data \"arbi:w\",#15ab", false, false}}, {}, {}, "block:3"},
    {"the block complete, its message not ended", {{"mmem:data \"arbi:w\",#12ab", false, false}},
     {{"arbi", "w", "ab"}}, {}, "message"},
    // -- bytes that are not a command
    {"bad digit count", {{"mmem:data \"arbi:x\",#x12ab", true, false}}, {}, {kBadHeader}, "idle"},
    {"digit in the count missing", {{"mmem:data \"arbi:x\",#2a", true, false}}, {}, {kBadHeader}, "idle"},
    {"two spaces after the comma", {{"mmem:data \"arbi:x\",  #11a", true, false}}, {}, {kBadHeader}, "idle"},
    {"no quotes", {{"mmem:data arbi:x,#11a", true, false}}, {}, {kBadHeader}, "idle"},
    {"unknown memory", {{"mmem:data \"nvwfm:g\",#12ab", true, false}}, {}, {kUnknownMemory}, "idle"},
    {"unknown command", {{"FOO:BAR 1", true, false}}, {}, {kUndefinedHeader}, "idle"},
    {"a parameter where none belongs", {{"*IDN? 1", true, false}}, {}, {kParameterNotAllowed}, "idle"},
    {"a byte that cannot begin a header", {{"\x01*CLS", true, false}}, {}, {kSyntax}, "idle"},
    {"anything but a separator after a block", {{"mmem:data \"arbi:j\",#11aXYZ;*CLS", true, false}},
     {{"arbi", "j", "a"}}, {kInvalidSeparator}, "idle"},
    {"an error skips the rest of its message", {{"FOO;*CLS\nBAZ;*CLS", true, false}}, {},
     {kUndefinedHeader, kUndefinedHeader}, "idle"},
    // Samples sent after a header that broke off before its digit count:
    // the first byte spoils the header, each 0x0a ends a message, and the
    // bytes after it are read as one more.
    {"samples after a header broken off", {{"mmem:data \"arbi:s\", #", false, false}, {kRawSamples, true, false}},
     {}, {kBadHeader, kSyntax}, "idle"},
    {"samples after a header broken off, no END yet",
     {{"mmem:data \"arbi:s\", #", false, false}, {kRawSamples, false, false}}, {}, {kBadHeader}, "message"},
    {"samples without a header", {{kRawSamples, true, false}}, {}, {kSyntax, kSyntax}, "idle"},
    // -- a device clear leaves nothing of an unfinished message behind
    {"device clear drops a half-sent block",
     {{"mmem:data \"arbi:h\",#15ab", false, false}, {"*IDN?", true, true}},
     {},
     {},
     "idle"},
    {"device clear inside the block header, then a whole block",
     {{"mmem:data \"arbi:h\", #2", false, false}, {"mmem:data \"arbq:k\", #12ok", true, true}},
     {{"arbq", "k", "ok"}},
     {},
     "idle"},
    {"device clear inside a unit, then its end",
     {{"mmem:data \"arbi:h\",", false, false}, {"#12ok", true, true}},
     {},
     {kSyntax},
     "idle"},
    {"device clear keeps the error queue", {{"FOO", true, false}, {"", false, true}}, {}, {kUndefinedHeader}, "idle"},
    {"errors queue in order",
     {{"FOO", true, false}, {"mmem:data \"arbi:f\",#15ab", true, false}},
     {},
     {kUndefinedHeader, kShortBlock},
     "idle"},
    {"a full queue ends with an overflow",
     std::vector<Write>(12, Write{"FOO", true, false}),
     {},
     {kUndefinedHeader, kUndefinedHeader, kUndefinedHeader, kUndefinedHeader, kUndefinedHeader,
      kUndefinedHeader, kUndefinedHeader, kUndefinedHeader, kUndefinedHeader, "-350,\"Queue overflow\""},
     "idle"},
};

INSTANTIATE_TEST_SUITE_P(Parser, InstrumentInput, ::testing::ValuesIn(kParserCases),
                         [](const ::testing::TestParamInfo<ParserCase> &param) {
                             std::string name;
                             for (const char *p = param.param.title; *p != '\0'; ++p)
                                 name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                             return name;
                         });

// ---- gpib-32.dll --------------------------------------------------------------

class NiStandIn : public BusFolder {};

TEST_F(NiStandIn, ExportsTheEntriesAndALaterNotice) {
    describe("interface gpib0\n");
    Library library(SIM_NI_LIBRARY);
    ASSERT_NE(library.handle, nullptr) << dlerror();
    Ni ni(library);
    const void *entries[] = {reinterpret_cast<const void *>(ni.ibclr),   reinterpret_cast<const void *>(ni.ibconfig),
                             reinterpret_cast<const void *>(ni.ibdev),   reinterpret_cast<const void *>(ni.ibeot),
                             reinterpret_cast<const void *>(ni.ibfindA), reinterpret_cast<const void *>(ni.ibloc),
                             reinterpret_cast<const void *>(ni.ibonl),   reinterpret_cast<const void *>(ni.ibrd),
                             reinterpret_cast<const void *>(ni.ibtmo),   reinterpret_cast<const void *>(ni.ibwrt)};
    for (const void *entry : entries) EXPECT_NE(entry, nullptr);
    ASSERT_NE(ni.notice, nullptr);
    std::string notice(ni.notice);
    ASSERT_EQ(notice.size(), sizeof kNi488Notice - 1);
    EXPECT_NE(notice.substr(ni::kNoticeYearOffset, ni::kNoticeYearLength), "1994");
    notice.replace(ni::kNoticeYearOffset, ni::kNoticeYearLength, "1994");
    EXPECT_EQ(notice, kNi488Notice);
}

TEST_F(NiStandIn, FindsOnlyDescribedBoards) {
    describe("interface gpib0\ninterface gpib2\ninterface hpib1\n");
    Library library(SIM_NI_LIBRARY);
    Ni ni(library);
    struct Case {
        const char *name;
        int descriptor;
    };
    const Case cases[] = {{"gpib0", 0}, {"gpib2", 2}, {"gpib1", -1}, {"gpib", -1},
                          {"hpib1", -1}, {"gpib00", -1}, {"GPIB0", -1}, {"gpib0 ", -1}};
    for (const Case &c : cases) {
        EXPECT_EQ(ni.ibfindA(c.name), c.descriptor) << c.name;
        EXPECT_EQ(*ni.ibsta & ni::kErr, c.descriptor < 0 ? ni::kErr : 0) << c.name;
        if (c.descriptor < 0) {
            EXPECT_EQ(*ni.iberr, ni::kEneb) << c.name;
        }
    }
}

TEST_F(NiStandIn, AnswersTheIdentityQueryAndTracesEachCall) {
    describe("interface gpib0\ndevice gpib0 19 kvr\n");
    Library library(SIM_NI_LIBRARY);
    Ni ni(library);
    EXPECT_EQ(ni.ibfindA("gpib0"), 0);
    EXPECT_EQ(ni.ibonl(0, 0), ni::kCmpl);
    int ud = ni.ibdev(0, 19, 0, 8, 1, 0);
    EXPECT_EQ(ud, 32);
    EXPECT_EQ(ni.ibclr(ud), ni::kCmpl);
    EXPECT_EQ(ni.ibwrt(ud, "*IDN?", 5), ni::kCmpl);
    EXPECT_EQ(*ni.ibcntl, 5);
    char reply[120] = {};
    EXPECT_EQ(ni.ibrd(ud, reply, 120), ni::kCmpl | ni::kEnd);
    std::string expected = std::string(kIdentity) + "\n";
    EXPECT_EQ(std::string(reply), expected);
    EXPECT_EQ(*ni.ibcntl, static_cast<long>(expected.size()));
    EXPECT_EQ(ni.ibloc(ud), ni::kCmpl);
    EXPECT_EQ(ni.ibonl(ud, 0), ni::kCmpl);
    std::vector<std::string> lines = {
        "ibfindA(\"gpib0\") = 0",
        "ibonl(0,0) = 0x0100",
        "ibdev(0,19,0,8,1,0) = 32",
        "ibclr(32) = 0x0100",
        "ibwrt(32,\"*IDN?\",5) = 0x0100 count=5",
        "ibrd(32,120) = 0x2100 count=41 \"KVR Instruments,KVR-D K2073D,0000731,2.0\\n\"",
        "ibloc(32) = 0x0100",
        "ibonl(32,0) = 0x0100",
    };
    EXPECT_EQ(trace(), lines);
    auto s = status(SIM_NI_LIBRARY_FILE);
    EXPECT_EQ(statusValue(s, "open"), "0");
    EXPECT_EQ(statusValue(s, "calls"), "8");
    EXPECT_EQ(statusValue(s, "device"), "gpib0 19 kvr local files=0 errors=0 input=idle");
}

TEST_F(NiStandIn, ReportsErrorsAsTheDriverDoes) {
    describe("interface gpib0\ndevice gpib0 19 kvr\n");
    Library library(SIM_NI_LIBRARY);
    Ni ni(library);
    int ud = ni.ibdev(0, 19, 0, 8, 1, 0);
    int absent = ni.ibdev(0, 4, 0, 8, 1, 0);
    EXPECT_GE(absent, 0) << "a descriptor even where no device listens";
    struct Case {
        const char *what;
        int status;
        int error;
    };
    const Case cases[] = {
        {"ibwrt to an empty address", ni.ibwrt(absent, "*IDN?", 5), ni::kEnol},
        {"ibclr of an empty address", ni.ibclr(absent), ni::kEnol},
        {"ibtmo with code 18", ni.ibtmo(ud, 18), ni::kEarg},
        {"ibconfig with an unknown option", ni.ibconfig(ud, 3, 1), ni::kEarg},
        {"ibwrt on a closed descriptor", ni.ibwrt(77, "x", 1), ni::kEdvr},
        {"ibrd on a board", ni.ibrd(ni.ibfindA("gpib0"), nullptr, 0), ni::kEarg},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(c.status & ni::kErr, ni::kErr) << c.what;
    }
    // iberr holds the last error; check each by repeating it.
    EXPECT_EQ((ni.ibwrt(absent, "*IDN?", 5), *ni.iberr), ni::kEnol);
    EXPECT_EQ((ni.ibtmo(ud, 18), *ni.iberr), ni::kEarg);
    EXPECT_EQ((ni.ibwrt(77, "x", 1), *ni.iberr), ni::kEdvr);
    EXPECT_EQ(ni.ibdev(1, 19, 0, 8, 1, 0), -1);
    EXPECT_EQ(*ni.iberr, ni::kEneb);
    EXPECT_EQ(ni.ibdev(0, 31, 0, 8, 1, 0), -1);
    EXPECT_EQ(*ni.iberr, ni::kEarg);
    EXPECT_EQ(ni.ibdev(0, 5, 0, 18, 1, 0), -1);
    EXPECT_EQ(*ni.iberr, ni::kEarg);
}

TEST_F(NiStandIn, ReadsTimeOutInRealTime) {
    describe("interface gpib0\ndevice gpib0 7 silent\ndevice gpib0 19 kvr\n");
    Library library(SIM_NI_LIBRARY);
    Ni ni(library);
    struct Case {
        const char *what;
        int address;
        int code;
        bool query;
    };
    const Case cases[] = {
        {"empty address, 30 ms", 4, 8, true},
        {"empty address, 100 ms", 4, 9, true},
        {"silent device", 7, 8, true},
        {"instrument with nothing to say", 19, 8, false},
    };
    for (const Case &c : cases) {
        int ud = ni.ibdev(0, c.address, 0, c.code, 1, 0);
        if (c.query) ni.ibwrt(ud, "*IDN?", 5);
        char reply[120];
        auto start = std::chrono::steady_clock::now();
        int sta = ni.ibrd(ud, reply, sizeof reply);
        double elapsed = millisecondsSince(start);
        EXPECT_EQ(sta, ni::kErr | ni::kTimo | ni::kCmpl) << c.what;
        EXPECT_EQ(*ni.iberr, ni::kEabo) << c.what;
        EXPECT_EQ(*ni.ibcntl, 0) << c.what;
        EXPECT_GE(elapsed, ni::kTimeoutMicroseconds[c.code] / 1000.0) << c.what;
        ni.ibonl(ud, 0);
    }
}

// The module's sending steps: header pieces without END, then the samples
// with END and byte swapping.
TEST_F(NiStandIn, StoresSwappedSamplesAsTheInstrumentReceivesThem) {
    describe("interface gpib0\ndevice gpib0 19 kvr\n");
    Library library(SIM_NI_LIBRARY);
    Ni ni(library);
    int ud = ni.ibdev(0, 19, 0, 8, 1, 0);
    const std::int16_t samples[] = {1, -1, 32767, -32768, 0x1234};
    for (const char *memory : {"arbi", "arbq"}) {
        std::string header = std::string("mmem:data \"") + memory + ":tone\", #";
        ni.ibeot(ud, 0);
        ni.ibwrt(ud, header.data(), static_cast<long>(header.size()));
        ni.ibwrt(ud, "2", 1);
        ni.ibwrt(ud, "10", 2);
        ni.ibeot(ud, 1);
        ni.ibconfig(ud, ni::kOptionSwapBytes, 1);
        EXPECT_EQ(ni.ibwrt(ud, samples, sizeof samples), ni::kCmpl);
        ni.ibconfig(ud, ni::kOptionSwapBytes, 0);
    }
    const std::string bigEndian("\x00\x01\xff\xff\x7f\xff\x80\x00\x12\x34", 10);
    EXPECT_EQ(readFile(stored("gpib0-19", "arbi", "tone")), bigEndian);
    EXPECT_EQ(readFile(stored("gpib0-19", "arbq", "tone")), bigEndian);
    EXPECT_EQ(statusValue(status(SIM_NI_LIBRARY_FILE), "device"), "gpib0 19 kvr remote files=2 errors=0 input=idle");
    ni.ibloc(ud);
    EXPECT_EQ(statusValue(status(SIM_NI_LIBRARY_FILE), "device"), "gpib0 19 kvr local files=2 errors=0 input=idle");
    std::vector<std::string> lines = trace();
    ASSERT_GE(lines.size(), 9u);
    EXPECT_EQ(lines[2], "ibwrt(32,\"mmem:data \\\"arbi:tone\\\", #\",24) = 0x0100 count=24");
    EXPECT_EQ(lines[6], "ibconfig(32,20,1) = 0x0100");
    EXPECT_EQ(lines[7], "ibwrt(32,\"\\x01\\x00\\xff\\xff\\xff\\x7f\\x00\\x804\\x12\",10) = 0x0100 count=10");
}

// A part whose sample write failed leaves the instrument inside its block,
// waiting for the bytes; a device clear ends the block and stores nothing.
TEST_F(NiStandIn, AFailedSampleWriteLeavesTheBlockOpenUntilAClear) {
    describe("interface gpib0\ndevice gpib0 19 kvr\nfault block-refused gpib0 19 arbi\n");
    Library library(SIM_NI_LIBRARY);
    Ni ni(library);
    int ud = ni.ibdev(0, 19, 0, 8, 1, 0);
    const std::int16_t samples[] = {1, 2, 3, 4, 5};
    const char header[] = "mmem:data \"arbi:tone\", #";
    ni.ibeot(ud, 0);
    ni.ibwrt(ud, header, sizeof header - 1);
    ni.ibwrt(ud, "2", 1);
    ni.ibwrt(ud, "10", 2);
    ni.ibeot(ud, 1);
    ni.ibconfig(ud, ni::kOptionSwapBytes, 1);
    EXPECT_EQ(ni.ibwrt(ud, samples, sizeof samples), ni::kErr | ni::kCmpl);
    EXPECT_EQ(*ni.iberr, ni::kEnol);
    ni.ibconfig(ud, ni::kOptionSwapBytes, 0);
    EXPECT_EQ(statusValue(status(SIM_NI_LIBRARY_FILE), "device"), "gpib0 19 kvr remote files=0 errors=0 input=block:10");
    EXPECT_EQ(ni.ibclr(ud), ni::kCmpl);
    EXPECT_EQ(statusValue(status(SIM_NI_LIBRARY_FILE), "device"), "gpib0 19 kvr remote files=0 errors=0 input=idle");
    // Without the clear, the next message would have gone into the block.
    ni.ibwrt(ud, "*IDN?", 5);
    char reply[120] = {};
    EXPECT_EQ(ni.ibrd(ud, reply, sizeof reply), ni::kCmpl | ni::kEnd);
    EXPECT_EQ(std::string(reply), std::string(kIdentity) + "\n");
    EXPECT_FALSE(fs::exists(folder / "store"));
}

TEST_F(NiStandIn, WithoutSwappingTheBytesGoAsTheyLie) {
    describe("interface gpib0\ndevice gpib0 19 kvr\n");
    Library library(SIM_NI_LIBRARY);
    Ni ni(library);
    int ud = ni.ibdev(0, 19, 0, 8, 1, 0);
    const char block[] = "mmem:data \"arbi:raw\",#13abc";
    ni.ibwrt(ud, block, sizeof block - 1);
    EXPECT_EQ(readFile(stored("gpib0-19", "arbi", "raw")), "abc");
    // ibonl(ud, 1) brings the descriptor back to its ibdev settings.
    ni.ibeot(ud, 0);
    ni.ibonl(ud, 1);
    const char odd[] = "mmem:data \"arbi:odd\",#13xyz";
    ni.ibconfig(ud, ni::kOptionSwapBytes, 1);
    ni.ibwrt(ud, odd, sizeof odd - 1);
    ni.ibconfig(ud, ni::kOptionSwapBytes, 0);
    EXPECT_EQ(statusValue(status(SIM_NI_LIBRARY_FILE), "device"), "gpib0 19 kvr remote files=1 errors=1 input=idle")
        << "swapped header bytes are not a command";
}

TEST_F(NiStandIn, CountsLoadsAndDescriptorsLeftOpen) {
    describe("interface gpib0\ndevice gpib0 19 kvr\n");
    for (int load = 1; load <= 3; ++load) {
        Library library(SIM_NI_LIBRARY);
        Ni ni(library);
        int board = ni.ibfindA("gpib0");
        int ud = ni.ibdev(0, 19, 0, 8, 1, 0);
        int other = ni.ibdev(0, 3, 0, 8, 1, 0);
        auto s = status(SIM_NI_LIBRARY_FILE);
        EXPECT_EQ(statusValue(s, "loads"), std::to_string(load));
        EXPECT_EQ(statusValue(s, "open"), "3");
        std::vector<std::string> handles;
        for (auto range = s.equal_range("open-handle"); range.first != range.second; ++range.first)
            handles.push_back(range.first->second);
        EXPECT_EQ(handles, (std::vector<std::string>{"0 board gpib0", "32 device gpib0 19", "33 device gpib0 3"}));
        ni.ibonl(board, 0);
        ni.ibonl(ud, 0);
        if (load != 2) ni.ibonl(other, 0);  // the second load leaves one open
        EXPECT_EQ(statusValue(status(SIM_NI_LIBRARY_FILE), "open"), load == 2 ? "1" : "0");
    }
    auto s = status(SIM_NI_LIBRARY_FILE);
    EXPECT_EQ(statusValue(s, "loads"), "3");
    EXPECT_EQ(statusValue(s, "unloads"), "3");
    EXPECT_EQ(statusValue(s, "left-open-at-unload"), "1");
}

// ---- faults -------------------------------------------------------------------

TEST(BusDescription, ReadsFaultsAndReportsTheOnesItCannotPlace) {
    sim::SimBus bus{};
    sim::parseBusDescription(bus,
                             "interface gpib0\n"
                             "device gpib0 19 kvr\n"
                             "fault block-timeout gpib0 19 arbq 100 50\n"
                             "fault block-refused gpib0 19 arbi\n"
                             "fault read-fails gpib0 19\n"
                             "fault unterminated gpib0 19\n"
                             "fault also-answers gpib0 19 25\n"
                             "fault notice-unterminated\n"
                             "fault read-fails gpib0 20\n"
                             "fault block-timeout gpib0 19 nvwfm 1\n"
                             "fault block-timeout gpib0 19 arbi x\n"
                             "fault also-answers gpib0 19 19\n"
                             "fault also-answers gpib0 19 25\n"
                             "fault melt\n"
                             "fault header-refused gpib0 19 arbq\n",
                             "/base");
    const sim::SimDeviceFaults &faults = bus.interfaces[0].devices[19].faults;
    EXPECT_EQ(faults.headerRefusedMemory, "arbq");
    EXPECT_EQ(faults.stallMemory, "arbq");
    EXPECT_EQ(faults.stallAfter, 100u);
    EXPECT_EQ(faults.stallWaitMicroseconds, 50000);
    EXPECT_EQ(faults.refusedMemory, "arbi");
    EXPECT_TRUE(faults.readFails);
    EXPECT_TRUE(faults.unterminated);
    EXPECT_EQ(bus.noticeFault, sim::kNoticeUnterminated);
    EXPECT_EQ(sim::homeAddress(bus.interfaces[0], 25), 19);
    EXPECT_EQ(sim::deviceAt(bus.interfaces[0], 25), &bus.interfaces[0].devices[19]);
    EXPECT_EQ(sim::homeAddress(bus.interfaces[0], 24), 24);
    std::vector<std::string> expected = {
        "line 9: fault on an undescribed device \"gpib0 20\"",
        "line 10: fault memory \"nvwfm\" is not arbi or arbq",
        "line 11: block-timeout wants BYTES [WAIT_MS]",
        "line 12: also-answers wants a free address, not \"19\"",
        "line 13: also-answers wants a free address, not \"25\"",
        "line 14: unknown fault \"melt\"",
    };
    EXPECT_EQ(bus.problems, expected);
}

// The device faults as the NI-488.2 stand-in reports them, one download's
// worth of calls each.
TEST_F(NiStandIn, InjectsTheDescribedFaults) {
    struct Case {
        const char *what;
        const char *faults;
        int identityStatus;        // ibrd's status for the identity query
        std::string identity;      // the bytes it read
        int realStatus;            // the status of the real part's sample write
        int imaginaryStatus;       // the same for the imaginary part
        std::vector<std::string> memories;  // the files stored
        double leastMs;            // the calls take at least this long
    };
    const std::string reply = std::string(kIdentity) + "\n";
    const Case cases[] = {
        {"no fault", "", 0x2100, reply, 0x0100, 0x0100, {"arbi", "arbq"}, 0},
        {"the Q block stalls", "fault block-timeout gpib0 19 arbq 3 40\n", 0x2100, reply, 0x0100, 0xc100,
         {"arbi"}, 40},
        {"the Q block stalls for the descriptor's timeout", "fault block-timeout gpib0 19 arbq 0\n", 0x2100, reply,
         0x0100, 0xc100, {"arbi"}, 300},
        {"the I block is refused", "fault block-refused gpib0 19 arbi\n", 0x2100, reply, 0x8100, 0x0100, {"arbq"},
         0},
        {"the I header's digit count is refused", "fault header-refused gpib0 19 arbi\n", 0x2100, reply, 0x8100,
         0x0100, {"arbq"}, 0},
        {"reads fail", "fault read-fails gpib0 19\n", 0x8100, "", 0x0100, 0x0100, {"arbi", "arbq"}, 0},
        {"no newline", "fault unterminated gpib0 19\n", 0x2100, kIdentity, 0x0100, 0x0100, {"arbi", "arbq"}, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(folder / "store");
        describe(std::string("interface gpib0\ndevice gpib0 19 kvr\n") + c.faults);
        Library library(SIM_NI_LIBRARY);
        Ni ni(library);
        auto start = std::chrono::steady_clock::now();
        int ud = ni.ibdev(0, 19, 0, 10, 1, 0);  // code 10: 300 ms
        ni.ibwrt(ud, "*IDN?", 5);
        char buffer[120] = {};
        EXPECT_EQ(ni.ibrd(ud, buffer, sizeof buffer), c.identityStatus);
        EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(*ni.ibcntl)), c.identity);
        const char *headers[] = {"mmem:data \"arbi:w\", #16", "mmem:data \"arbq:w\", #16"};
        const int expected[] = {c.realStatus, c.imaginaryStatus};
        for (int part = 0; part < 2; ++part) {
            ni.ibclr(ud);
            ni.ibeot(ud, 0);
            ni.ibwrt(ud, headers[part], static_cast<long>(std::strlen(headers[part])));
            ni.ibeot(ud, 1);
            EXPECT_EQ(ni.ibwrt(ud, "abcdef", 6), expected[part]) << headers[part];
        }
        EXPECT_GE(millisecondsSince(start), c.leastMs);
        std::vector<std::string> memories;
        for (const char *memory : {"arbi", "arbq"})
            if (fs::exists(stored("gpib0-19", memory, "w"))) memories.push_back(memory);
        EXPECT_EQ(memories, c.memories);
        ni.ibonl(ud, 0);
    }
}

TEST_F(NiStandIn, AnswersAtASecondAddressAndStoresUnderTheFirst) {
    describe("interface gpib0\ndevice gpib0 7 kvr\nfault also-answers gpib0 7 19\n");
    Library library(SIM_NI_LIBRARY);
    Ni ni(library);
    int ud = ni.ibdev(0, 19, 0, 10, 1, 0);
    ni.ibwrt(ud, "*IDN?", 5);
    char buffer[120] = {};
    ni.ibrd(ud, buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer), std::string(kIdentity) + "\n");
    const char command[] = "mmem:data \"arbi:w\",#12ab";
    ni.ibwrt(ud, command, static_cast<long>(std::strlen(command)));
    EXPECT_TRUE(fs::exists(stored("gpib0-7", "arbi", "w")));
    EXPECT_FALSE(fs::exists(folder / "store" / "gpib0-19"));
    ni.ibonl(ud, 0);
}

TEST_F(NiStandIn, RewritesItsNoticeAsTheDescriptionSays) {
    struct Case {
        const char *fault;
        std::string notice;  // up to the first terminator
    };
    std::string runOn = "\r\n Copyright 2001 National Instruments Corporation.  All rights reserved. \r\n";
    runOn += std::string(127 - runOn.size(), '*');
    const Case cases[] = {
        {"", "\r\n Copyright 2001 National Instruments Corporation.  All rights reserved. \r\n"},
        {"fault notice-short\n", "\r\n Copyright"},
        {"fault notice-unterminated\n", runOn},
    };
    for (const Case &c : cases) {
        describe(std::string("interface gpib0\n") + c.fault);
        Library library(SIM_NI_LIBRARY);
        Ni ni(library);
        EXPECT_EQ(std::string(ni.notice), c.notice) << c.fault;
    }
}

TEST_F(NiStandIn, ReadsAChangedDescriptionAtTheNextFind) {
    describe("interface gpib0\n");
    Library library(SIM_NI_LIBRARY);
    Ni ni(library);
    EXPECT_EQ(ni.ibfindA("gpib1"), -1);
    describe("interface gpib1\ndevice gpib1 3 kvr\n");
    EXPECT_EQ(ni.ibfindA("gpib1"), 1);
    EXPECT_EQ(ni.ibfindA("gpib0"), -1);
    ni.ibonl(1, 0);
    auto s = status(SIM_NI_LIBRARY_FILE);
    EXPECT_EQ(statusValue(s, "loads"), "1");
    EXPECT_EQ(statusValue(s, "interface"), "gpib1");
}

// ---- sicl32.dll ---------------------------------------------------------------

class SiclStandIn : public BusFolder {};

TEST_F(SiclStandIn, OpensDescribedInterfacesAndAddresses) {
    describe("interface hpib7\ninterface gpib0\ndevice gpib0 19 kvr\n");
    Library library(SIM_SICL_LIBRARY);
    ASSERT_NE(library.handle, nullptr) << dlerror();
    Sicl sicl(library);
    const void *entries[] = {reinterpret_cast<const void *>(sicl.iopen),   reinterpret_cast<const void *>(sicl.iclose),
                             reinterpret_cast<const void *>(sicl.iwrite),  reinterpret_cast<const void *>(sicl.iclear),
                             reinterpret_cast<const void *>(sicl.itimeout), reinterpret_cast<const void *>(sicl.iread),
                             reinterpret_cast<const void *>(sicl.ilocal),  reinterpret_cast<const void *>(sicl.iprintf)};
    for (const void *entry : entries) EXPECT_NE(entry, nullptr);
    struct Case {
        const char *address;
        bool opens;
    };
    const Case cases[] = {
        {"hpib7", true},     {"gpib0", true},     {"hpib7,19", true},  {"gpib0,0", true},
        {"gpib0,30", true},  {"gpib0,31", false}, {"hpib", false},     {"gpib1", false},
        {"gpib0,", false},   {"gpib0,x", false},  {"gpib0,100", false}, {"", false},
    };
    for (const Case &c : cases) {
        int id = sicl.iopen(c.address);
        EXPECT_EQ(id != 0, c.opens) << c.address;
        if (id != 0) {
            EXPECT_EQ(sicl.iclose(id), 0) << c.address;
        }
    }
    EXPECT_NE(sicl.iclose(1), 0) << "closing a closed session";
    EXPECT_EQ(statusValue(status(SIM_SICL_LIBRARY_FILE), "open"), "0");
}

TEST_F(SiclStandIn, ProbesTheWayTheModuleDoes) {
    describe("interface hpib7\ndevice hpib7 19 kvr\ndevice hpib7 20 foreign\n");
    Library library(SIM_SICL_LIBRARY);
    Sicl sicl(library);
    struct Case {
        int address;
        int result;
        std::string reply;
        double atLeastMilliseconds;
    };
    const Case cases[] = {
        {19, 0, std::string(kIdentity) + "\n", 0},
        {20, 0, "Oberon Labs,OL-3320 Frequency Counter,1138,1.4\n", 0},
        {21, 15, "", 20},
    };
    for (const Case &c : cases) {
        int id = sicl.iopen(("hpib7," + std::to_string(c.address)).c_str());
        ASSERT_NE(id, 0);
        unsigned long actual = 99;
        EXPECT_EQ(sicl.itimeout(id, 20), 0);
        sicl.iclear(id);
        sicl.iwrite(id, "*IDN?", 5, 1, &actual);
        char reply[120] = {};
        int reason = -1;
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(sicl.iread(id, reply, 120, &reason, &actual), c.result) << c.address;
        EXPECT_GE(millisecondsSince(start), c.atLeastMilliseconds) << c.address;
        EXPECT_EQ(std::string(reply, actual), c.reply) << c.address;
        EXPECT_EQ(reason, c.result == 0 ? 4 : 0) << c.address;
    }
    std::vector<std::string> lines = trace();
    ASSERT_EQ(lines.size(), 15u);
    EXPECT_EQ(lines[0], "iopen(\"hpib7,19\") = 1");
    EXPECT_EQ(lines[1], "itimeout(1,20) = 0");
    EXPECT_EQ(lines[2], "iclear(1) = 0");
    EXPECT_EQ(lines[3], "iwrite(1,\"*IDN?\",5,1) = 0 actual=5");
    EXPECT_EQ(lines[4], "iread(1,120) = 0 reason=4 actual=41 \"KVR Instruments,KVR-D K2073D,0000731,2.0\\n\"");
    EXPECT_EQ(lines[13], "iwrite(3,\"*IDN?\",5,1) = 6 actual=0");
    EXPECT_EQ(lines[14], "iread(3,120) = 15");
    EXPECT_EQ(statusValue(status(SIM_SICL_LIBRARY_FILE), "open"), "3");
}

TEST_F(SiclStandIn, ShortReadsLeaveTheRestOfTheReply) {
    describe("interface gpib0\ndevice gpib0 19 kvr\n");
    Library library(SIM_SICL_LIBRARY);
    Sicl sicl(library);
    int id = sicl.iopen("gpib0,19");
    unsigned long actual = 0;
    sicl.iwrite(id, "*IDN?", 5, 1, &actual);
    char part[8] = {};
    int reason = 0;
    EXPECT_EQ(sicl.iread(id, part, sizeof part, &reason, &actual), 0);
    EXPECT_EQ(std::string(part, actual), "KVR Inst");
    EXPECT_EQ(reason, 1);
    char rest[120] = {};
    EXPECT_EQ(sicl.iread(id, rest, sizeof rest, &reason, &actual), 0);
    EXPECT_EQ(std::string(rest, actual), "ruments,KVR-D K2073D,0000731,2.0\n");
    EXPECT_EQ(reason, 4);
}

TEST_F(SiclStandIn, FormatsTheWaveformCommandAndBlock) {
    describe("interface gpib0\ndevice gpib0 19 kvr\n");
    Library library(SIM_SICL_LIBRARY);
    Sicl sicl(library);
    int id = sicl.iopen("gpib0,19");
    const std::int16_t samples[] = {1, -1, 32767, -32768, 0x1234};
    // 0, not a count of conversions, when all went out.
    EXPECT_EQ(sicl.iprintf(id, "mmem:data \"arbi:%s\",", "wave"), 0);
    EXPECT_EQ(sicl.iprintf(id, "%*wb\n", 5, samples), 0);
    EXPECT_EQ(sicl.iprintf(id, "mmem:data \"arbq:%s%d\",%%", "wave", 2), 0);
    EXPECT_EQ(readFile(stored("gpib0-19", "arbi", "wave")), std::string("\x00\x01\xff\xff\x7f\xff\x80\x00\x12\x34", 10));
    EXPECT_EQ(statusValue(status(SIM_SICL_LIBRARY_FILE), "device"),
              "gpib0 19 kvr remote files=1 errors=0 input=message")
        << "the last command has no newline: its message is not ended";
    std::vector<std::string> lines = trace();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1], "iprintf(1,\"mmem:data \\\"arbi:%s\\\",\",\"wave\") = 0");
    EXPECT_EQ(lines[2], "iprintf(1,\"%*wb\\n\",5,\"\\x00\\x01\\xff\\xff\\x7f\\xff\\x80\\x00\\x124\") = 0");
    EXPECT_EQ(lines[3], "iprintf(1,\"mmem:data \\\"arbq:%s%d\\\",%%\",\"wave\",2) = 0");
}

// Each failure gives its SICL error number; a format the library cannot do
// sends nothing.
TEST_F(SiclStandIn, ReportsWhatIprintfCouldNotDo) {
    describe("interface gpib0\ndevice gpib0 19 kvr\ndevice gpib0 20 kvr\ndevice gpib0 21 kvr\n"
             "fault block-timeout gpib0 20 arbi 2 10\nfault block-refused gpib0 21 arbi\n");
    Library library(SIM_SICL_LIBRARY);
    Sicl sicl(library);
    int id = sicl.iopen("gpib0,19");
    int stalls = sicl.iopen("gpib0,20");
    int refuses = sicl.iopen("gpib0,21");
    int absent = sicl.iopen("gpib0,3");
    int board = sicl.iopen("gpib0");
    const std::int16_t samples[] = {1, -1, 32767, -32768, 0x1234};
    ASSERT_EQ(sicl.iprintf(stalls, "mmem:data \"arbi:%s\",", "w"), 0);
    ASSERT_EQ(sicl.iprintf(refuses, "mmem:data \"arbi:%s\",", "w"), 0);
    struct Case {
        const char *what;
        int result;
        int expected;
    };
    const Case cases[] = {
        {"a closed session", sicl.iprintf(99, "*IDN?\n"), sicl::kErrBadId},
        {"no format", sicl.iprintf(id, nullptr), sicl::kErrParameter},
        {"an unknown conversion", sicl.iprintf(id, "*CLS %f\n", 1.0), sicl::kErrBadFormat},
        {"a block with a negative count", sicl.iprintf(id, "%*wb\n", -1, samples), sicl::kErrParameter},
        {"a block without its words", sicl.iprintf(id, "%*wb\n", 5, nullptr), sicl::kErrParameter},
        {"an interface session", sicl.iprintf(board, "*IDN?\n"), sicl::kErrNotSupported},
        {"an empty address", sicl.iprintf(absent, "*IDN?\n"), sicl::kErrNoConnection},
        {"a block the device stops taking", sicl.iprintf(stalls, "%*wb\n", 5, samples), sicl::kErrTimeout},
        {"a block the device drops off the bus for", sicl.iprintf(refuses, "%*wb\n", 5, samples),
         sicl::kErrNoConnection},
    };
    for (const Case &c : cases) EXPECT_EQ(c.result, c.expected) << c.what;
    EXPECT_EQ(statusValue(status(SIM_SICL_LIBRARY_FILE), "device"), "gpib0 19 kvr local files=0 errors=0 input=idle")
        << "nothing of the formats it could not do reached the device";
    std::vector<std::string> lines = trace();
    EXPECT_EQ(lines[7], "iprintf(99,\"*IDN?\\n\") = 4");
    EXPECT_EQ(lines[14], "iprintf(2,\"%*wb\\n\",5,\"\\x00\\x01\\xff\\xff\\x7f\\xff\\x80\\x00\\x124\") = 15");
}

TEST_F(SiclStandIn, CountsLoadsAndSessionsLeftOpen) {
    describe("interface gpib0\n");
    for (int load = 1; load <= 2; ++load) {
        Library library(SIM_SICL_LIBRARY);
        Sicl sicl(library);
        sicl.iopen("gpib0,5");
        EXPECT_EQ(statusValue(status(SIM_SICL_LIBRARY_FILE), "open"), "1");
        EXPECT_EQ(statusValue(status(SIM_SICL_LIBRARY_FILE), "open-handle"), "1 device gpib0 5");
    }
    auto s = status(SIM_SICL_LIBRARY_FILE);
    EXPECT_EQ(statusValue(s, "loads"), "2");
    EXPECT_EQ(statusValue(s, "unloads"), "2");
    EXPECT_EQ(statusValue(s, "left-open-at-unload"), "2");
}

TEST_F(SiclStandIn, WithoutADescriptionTheBusIsEmpty) {
    unsetenv(SIM_BUS_VARIABLE);
    Library library(SIM_SICL_LIBRARY);
    Sicl sicl(library);
    EXPECT_EQ(sicl.iopen("hpib7"), 0);
    EXPECT_EQ(sicl.iopen("gpib0,19"), 0);
}

}  // namespace
