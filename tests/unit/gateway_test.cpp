// The gateway: argument checks and their errors, the length and name it hands
// on, and the two host blocks it allocates and frees around every download.
#include <sys/mman.h>

#include "unit_fixture.h"

namespace {

using fakehost::CallResult;

const char kUsage[] = "Usage: vandrel(complex data, 'filename')";
const char kNotVector[] = "Input data must be a vector, not an array.";
const char kNotDouble[] = "Complex data for vandrel must be a full (not sparse) double array.";
const char kBadName[] = "The waveform name for vandrel must not hold a double quote or a control character.";

// What a download prints on a machine with no driver at all.
std::vector<std::string> noDriverLines() {
    return concat(bannerLines(), {"No GPIB Card driver found.\n", "No GPIB configured Interface was found.\n"});
}

class GatewayTest : public UnitTest {};

TEST_F(GatewayTest, FewerThanTwoInputsRaiseTheUsageError) {
    host::Array iq = fakehost::complexArray(1, 4);
    const std::vector<std::vector<const host::Array *>> cases = {{}, {&iq}};
    for (const auto &inputs : cases) {
        fakehost::reset();
        host::Array *outputs[1] = {nullptr};
        EXPECT_EQ(fakehost::callGatewayWith(inputs, 0, outputs), CallResult::kRaisedError) << inputs.size();
        EXPECT_EQ(fakehost::record().errors, std::vector<std::string>{kUsage});
        EXPECT_TRUE(printed().empty());
        EXPECT_EQ(fakehost::record().allocations, 0);
    }
    EXPECT_TRUE(fakekernel::kernel().calls.empty()) << "the download must not start";
}

TEST_F(GatewayTest, ArraysThatAreNoVectorPrintTheirShapeAndRaiseTheVectorError) {
    struct Case {
        int rows, columns;
    };
    const Case cases[] = {{3, 2}, {0, 0}, {2, 2}, {2, 1000}};
    host::Array name = fakehost::charArray("x");
    for (const Case &c : cases) {
        fakehost::reset();
        host::Array iq = fakehost::complexArray(c.rows, c.columns);
        EXPECT_EQ(fakehost::callGateway({&iq, &name}), CallResult::kRaisedError);
        std::vector<std::string> expected = {"Number of Rows = " + std::to_string(c.rows) + " \n",
                                             "Number of Columns = " + std::to_string(c.columns) + " \n"};
        EXPECT_EQ(printed(), expected) << c.rows << "x" << c.columns;
        EXPECT_EQ(fakehost::record().errors, std::vector<std::string>{kNotVector});
        EXPECT_EQ(fakehost::record().allocations, 0);
    }
    EXPECT_TRUE(fakekernel::kernel().calls.empty());
}

TEST_F(GatewayTest, FirstInputsThatAreNotFullDoubleArraysAreRefusedBeforeAnything) {
    struct Case {
        const char *what;
        host::Array array;
    };
    host::Array sparse = fakehost::complexArray(1, 4);
    sparse.sparse = true;
    host::Array sparseMatrix = fakehost::complexArray(3, 2);
    sparseMatrix.sparse = true;
    const Case cases[] = {
        {"single", fakehost::arrayOfClass(FakeClass::kSingle, 1, 4, true)},
        {"int16", fakehost::arrayOfClass(FakeClass::kInt16, 1, 4, true)},
        {"logical", fakehost::arrayOfClass(FakeClass::kLogical, 1, 4)},
        {"char", fakehost::arrayOfClass(FakeClass::kChar, 1, 4)},
        {"cell", fakehost::arrayOfClass(FakeClass::kCell, 1, 4)},
        {"struct", fakehost::arrayOfClass(FakeClass::kStruct, 1, 1)},
        {"sparse double", sparse},
        // The class is checked before the shape: no dimension lines.
        {"3x2 int16", fakehost::arrayOfClass(FakeClass::kInt16, 3, 2)},
        {"3x2 sparse double", sparseMatrix},
    };
    fakebus::installNi();
    host::Array name = fakehost::charArray("tone");
    for (const Case &c : cases) {
        fakehost::reset();
        EXPECT_EQ(fakehost::callGateway({&c.array, &name}), CallResult::kRaisedError) << c.what;
        EXPECT_EQ(fakehost::record().errors, std::vector<std::string>{kNotDouble}) << c.what;
        EXPECT_TRUE(printed().empty()) << c.what;
        EXPECT_EQ(fakehost::record().allocations, 0) << c.what;
    }
    EXPECT_TRUE(fakekernel::kernel().calls.empty());
    EXPECT_TRUE(trace().empty());
}

TEST_F(GatewayTest, TheLengthIsTheLongerSideAndZeroForEmptyVectors) {
    struct Case {
        int rows, columns, length;
    };
    const Case cases[] = {{1, 1, 1}, {1, 1000, 1000}, {1000, 1, 1000}, {1, 0, 0}, {0, 1, 0}, {1, 2, 2}};
    host::Array name = fakehost::charArray("tone");
    for (const Case &c : cases) {
        fakehost::reset();
        host::Array iq = fakehost::complexArray(c.rows, c.columns);
        EXPECT_EQ(fakehost::callGateway({&iq, &name}), CallResult::kReturned);
        std::vector<std::string> expected = {"Save to Waveform: tone \n",
                                             "Waveform Length = " + std::to_string(c.length) + " points.\n"};
        EXPECT_EQ(printed(), concat(expected, noDriverLines())) << c.rows << "x" << c.columns;
        std::vector<std::string> memory = {"mxCalloc(5,1)=b1", "mxCalloc(" + std::to_string(c.length) + ",2)=b2",
                                           "mxFree(b2)", "mxFree(b1)"};
        EXPECT_EQ(fakehost::memoryCalls(), memory) << c.rows << "x" << c.columns;
        EXPECT_TRUE(fakehost::record().errors.empty());
    }
}

TEST_F(GatewayTest, FurtherInputsAndRequestedOutputsChangeNothing) {
    host::Array iq = fakehost::complexArray(1, 3);
    host::Array name = fakehost::charArray("tone");
    host::Array extra = fakehost::arrayOfClass(FakeClass::kCell, 2, 2);
    host::Array marker;
    host::Array *outputs[3] = {&marker, &marker, &marker};
    EXPECT_EQ(fakehost::callGatewayWith({&iq, &name, &extra, &extra}, 3, outputs), CallResult::kReturned);
    EXPECT_EQ(printed(),
              concat({"Save to Waveform: tone \n", "Waveform Length = 3 points.\n"}, noDriverLines()));
    for (host::Array *slot : outputs) EXPECT_EQ(slot, &marker) << "an output slot was assigned";
    EXPECT_EQ(fakehost::record().allocations, 2);
}

TEST_F(GatewayTest, TheNameIsCopiedWholeWhateverItsLengthOrContent) {
    struct Case {
        const char *what;
        host::Array name;
        std::string shown;
        std::string calloc;
    };
    const std::string longName(10000, 'w');
    std::string highBytes = "t\xE9st\xFF";
    const Case cases[] = {
        {"plain", fakehost::charArray("tone"), "tone", "mxCalloc(5,1)=b1"},
        {"10000 characters", fakehost::charArray(longName), longName, "mxCalloc(10001,1)=b1"},
        {"bytes of 0x80 and above", fakehost::charArray(highBytes), highBytes, "mxCalloc(6,1)=b1"},
        {"empty text", fakehost::charArray(""), "", "mxCalloc(1,1)=b1"},
        {"not text", fakehost::arrayOfClass(FakeClass::kDouble, 1, 3), "", "mxCalloc(4,1)=b1"},
        {"percent signs", fakehost::charArray("a%s%d%n"), "a%s%d%n", "mxCalloc(8,1)=b1"},
    };
    host::Array iq = fakehost::complexArray(1, 2);
    for (const Case &c : cases) {
        fakehost::reset();
        EXPECT_EQ(fakehost::callGateway({&iq, &c.name}), CallResult::kReturned) << c.what;
        ASSERT_GE(printed().size(), 2u);
        EXPECT_EQ(printed()[0], "Save to Waveform: " + c.shown + " \n") << c.what;
        ASSERT_FALSE(fakehost::memoryCalls().empty());
        EXPECT_EQ(fakehost::memoryCalls()[0], c.calloc) << c.what;
        EXPECT_EQ(fakehost::record().allocations, 2) << c.what;
    }
}

TEST_F(GatewayTest, NamesWithAQuoteOrAControlCharacterAreRefusedAfterFreeingTheName) {
    const std::string names[] = {
        "to\"ne", "\"",       "tone\n",       "\ttone", std::string("a\x01z"), std::string("a\x1Fz"),
        "a\x7Fz", "a\rb",     "tone\";*RST", std::string("a\0b", 3), std::string("\0", 1),
    };
    fakebus::installNi();
    fakebus::installSicl();
    fakebus::bus().niBoards = {0};
    fakebus::addDevice(19, fakebus::kvrReply());
    host::Array iq = fakehost::complexArray(1, 4);
    for (const std::string &text : names) {
        fakehost::reset();
        host::Array name = fakehost::charArray(text);
        EXPECT_EQ(fakehost::callGateway({&iq, &name}), CallResult::kRaisedError) << fakebus::quoted(text);
        EXPECT_EQ(fakehost::record().errors, std::vector<std::string>{kBadName}) << fakebus::quoted(text);
        std::string calloc = "mxCalloc(" + std::to_string(text.size() + 1) + ",1)=b1";
        EXPECT_EQ(fakehost::memoryCalls(), (std::vector<std::string>{calloc, "mxFree(b1)"}))
            << fakebus::quoted(text);
        // The block is freed before the error is raised, since the error does not return.
        const std::vector<std::string> &calls = fakehost::record().calls;
        ASSERT_GE(calls.size(), 2u);
        EXPECT_EQ(calls[calls.size() - 2], "mxFree(b1)");
        EXPECT_EQ(calls.back(), "mexErrMsgTxt");
        EXPECT_TRUE(printed().empty()) << fakebus::quoted(text);
    }
    EXPECT_TRUE(fakekernel::kernel().calls.empty());
    EXPECT_TRUE(trace().empty());
}

TEST_F(GatewayTest, AWaveformTooLongForOneBlockIsRefusedWithoutTheSampleBuffer) {
    // 500000000 points of data that must never be read: the pages are reserved
    // but inaccessible.
    const long long points = 500000000;
    const std::size_t bytes = static_cast<std::size_t>(points) * sizeof(double);
    void *data = mmap(nullptr, bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(data, MAP_FAILED);
    host::Array iq;
    iq.rows = 1;
    iq.columns = static_cast<int>(points);
    iq.complex = true;
    iq.realData = static_cast<const double *>(data);
    iq.imagData = static_cast<const double *>(data);
    host::Array name = fakehost::charArray("tone");
    fakebus::installNi();
    fakebus::bus().niBoards = {0};
    fakebus::addDevice(19, fakebus::kvrReply());

    EXPECT_EQ(fakehost::callGateway({&iq, &name}), CallResult::kReturned);
    munmap(data, bytes);
    EXPECT_EQ(printed(), concat({"Save to Waveform: tone \n", "Waveform Length = 500000000 points.\n"},
                                concat(bannerLines(), {"Waveform too long: 500000000 points; one part holds at "
                                                       "most 499999999 points.\n"})));
    EXPECT_EQ(fakehost::memoryCalls(), (std::vector<std::string>{"mxCalloc(5,1)=b1", "mxFree(b1)"}));
    EXPECT_TRUE(fakekernel::loadedPaths().empty());
    EXPECT_TRUE(trace().empty());
}

TEST_F(GatewayTest, TheHostCallsComeInTheirOrder) {
    host::Array iq = fakehost::complexArray(1, 2);
    host::Array name = fakehost::charArray("ab");
    EXPECT_EQ(fakehost::callGateway({&iq, &name}), CallResult::kReturned);
    std::vector<std::string> calls;
    for (const std::string &call : fakehost::record().calls)
        if (call != "mxIsDouble" && call != "mxIsSparse") calls.push_back(call);
    const std::vector<std::string> expected = {
        "mxGetM", "mxGetN", "mxGetPr", "mxGetPi", "mxGetM", "mxGetN", "mxCalloc(3,1)=b1", "mxGetString(3)",
        "mexPrintf", "mexPrintf", "mxCalloc(2,2)=b2", "mexPrintf", "mexPrintf", "mexPrintf", "mexPrintf",
        "mxFree(b2)", "mxFree(b1)"};
    EXPECT_EQ(calls, expected);
}

}  // namespace
