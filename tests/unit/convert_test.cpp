// The 16-bit sample conversion: the table of edge values, the agreement with
// the rule value by value and on random input, each for the two layouts the
// hosts give (the parts apart, and Octave's interleaved pairs), and the
// samples as they reach the instrument through either host's view.
#include <cctype>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "unit_fixture.h"
#include "wire.h"

namespace {

class ConversionTest : public BusTest {};

// Where a part's values lie in the host's storage.
struct Layout {
    const char *what;
    int stride;
    int offset;  // of the part's first value in the storage: 1 for Octave's imaginary part
};
const Layout kLayouts[] = {
    {"apart", 1, 0},
    {"interleaved, real part", 2, 0},
    {"interleaved, imaginary part", 2, 1},
};

// The values of one part laid out as a host keeps them, in storage of exactly
// the size the host's array has, so that a read past it is seen by the
// memory checkers. The doubles between the values belong to the other part:
// they hold values that would convert differently, and that no group may
// take for its own.
struct LaidOut {
    std::vector<double> storage;
    const double *values;
};

LaidOut layOut(const std::vector<double> &values, const Layout &layout) {
    static const double kOtherPart[] = {std::nan(""), 1.0e19, -3.0e9, 77.0, -12345.0, 40000.5};
    LaidOut laid;
    std::size_t count = values.size();
    laid.storage.assign(count * static_cast<std::size_t>(layout.stride), 0.0);
    for (std::size_t k = 0; k < laid.storage.size(); ++k)
        laid.storage[k] = kOtherPart[k % (sizeof kOtherPart / sizeof kOtherPart[0])];
    for (std::size_t k = 0; k < count; ++k)
        laid.storage[k * static_cast<std::size_t>(layout.stride) + static_cast<std::size_t>(layout.offset)] = values[k];
    laid.values = count == 0 ? nullptr : laid.storage.data() + layout.offset;
    return laid;
}

// Converts values laid out as the layout has them; the sample after the last
// must stay untouched.
std::vector<std::int16_t> convertLaidOut(const std::vector<double> &values, const Layout &layout) {
    LaidOut laid = layOut(values, layout);
    std::vector<std::int16_t> samples(values.size() + 1, 0x5A5A);
    if (!values.empty()) convertSamples(laid.values, layout.stride, static_cast<int>(values.size()), samples.data());
    EXPECT_EQ(samples.back(), 0x5A5A) << layout.what << ": written past " << values.size() << " samples";
    samples.pop_back();
    return samples;
}

// The rule itself, value by value, for comparison with the module's conversion.
std::int16_t referenceSample(double value) {
    if (std::isnan(value) || std::fabs(value) >= std::ldexp(1.0, 63)) return 0;
    long long whole = static_cast<long long>(value);
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(static_cast<unsigned long long>(whole)));
}

std::vector<std::int16_t> referenceSamples(const std::vector<double> &values) {
    std::vector<std::int16_t> samples;
    for (double value : values) samples.push_back(referenceSample(value));
    return samples;
}

class LayoutTest : public ConversionTest, public ::testing::WithParamInterface<Layout> {};

std::string layoutName(const ::testing::TestParamInfo<Layout> &info) {
    std::string name;
    for (const char *c = info.param.what; *c != '\0'; ++c)
        if (std::isalnum(static_cast<unsigned char>(*c))) name += *c;
    return name;
}

INSTANTIATE_TEST_SUITE_P(Layouts, LayoutTest, ::testing::ValuesIn(kLayouts), layoutName);

struct Conversion {
    double value;
    std::int16_t sample;
};

std::vector<Conversion> conversionCases() {
    const double inf = std::numeric_limits<double>::infinity();
    const double two63 = std::ldexp(1.0, 63);
    const double belowTwo63 = std::nextafter(two63, 0.0);  // 2^63 - 1024
    return {
        {0.0, 0},          {-0.0, 0},          {0.5, 0},           {-0.5, 0},          {1.9, 1},
        {-1.9, -1},        {32767.0, 32767},   {32767.9, 32767},   {32768.0, -32768},  {-32768.0, -32768},
        {-32768.9, -32768}, {-32769.0, 32767}, {65535.0, -1},      {65536.0, 0},       {65541.0, 5},
        {-65541.0, -5},    {123456.7, -7616},  {-123456.7, 7616},  {std::ldexp(1.0, 40) + 3.0, 3},
        {std::nan(""), 0}, {inf, 0},           {-inf, 0},          {two63, 0},         {-two63, 0},
        {belowTwo63, -1024}, {-belowTwo63, 1024}, {1e300, 0},      {-1e300, 0},        {std::ldexp(1.0, 62), 0},
    };
}

TEST_P(LayoutTest, SamplesAreTruncatedToTheirLow16Bits) {
    const Layout &layout = GetParam();
    std::vector<Conversion> cases = conversionCases();
    // The table once as it stands (shorter than a group of the vector
    // paths), then repeated past several groups, shifted by one each time
    // so that every value meets every position in a group.
    std::vector<double> values;
    std::vector<std::int16_t> expected;
    for (int round = 0; round < 6; ++round) {
        for (std::size_t k = 0; k < cases.size(); ++k) {
            const Conversion &c = cases[(k + static_cast<std::size_t>(round)) % cases.size()];
            values.push_back(c.value);
            expected.push_back(c.sample);
        }
        if (round == 0) {
            std::vector<std::int16_t> samples = convertLaidOut(values, layout);
            for (std::size_t k = 0; k < cases.size(); ++k)
                EXPECT_EQ(samples[k], cases[k].sample) << layout.what << ": value " << cases[k].value;
        }
    }
    EXPECT_EQ(convertLaidOut(values, layout), expected) << layout.what;

    std::vector<std::int16_t> zeros(4, 77);
    convertSamples(nullptr, layout.stride, 3, zeros.data());
    EXPECT_EQ(zeros, (std::vector<std::int16_t>{0, 0, 0, 77})) << layout.what;
}

TEST_P(LayoutTest, TheConversionAgreesForEveryLengthAndEveryPositionOfAnOddValue) {
    const Layout &layout = GetParam();
    const double odd[] = {std::nan(""), 3.0e9, -3.0e9, 1.0e19, -2147483648.0, 2147483647.9, -40000.7,
                          std::numeric_limits<double>::infinity()};
    for (int length = 0; length <= 70; ++length) {
        std::vector<double> values(static_cast<std::size_t>(length));
        for (int k = 0; k < length; ++k) values[static_cast<std::size_t>(k)] = (k % 7 - 3) * 12345.67 + k * 0.5;
        ASSERT_EQ(convertLaidOut(values, layout), referenceSamples(values)) << layout.what << ", length " << length;
        for (int position = 0; position < length; ++position) {
            std::vector<double> mixed = values;
            mixed[static_cast<std::size_t>(position)] = odd[position % (sizeof odd / sizeof odd[0])];
            ASSERT_EQ(convertLaidOut(mixed, layout), referenceSamples(mixed))
                << layout.what << ", length " << length << ", odd value at " << position;
        }
    }
}

// Random values of every kind against the rule: in range, wrapping, beyond
// 32 and 64 bits, any bit pattern (NaNs, infinities, subnormals), at random
// lengths, so that the groups of either vector path and the tail meet them.
TEST_P(LayoutTest, TheConversionAgreesWithTheRuleOnRandomInput) {
    const Layout &layout = GetParam();
    std::mt19937_64 random(20261211u + static_cast<unsigned>(layout.stride * 2 + layout.offset));
    std::uniform_int_distribution<int> kind(0, 9);
    std::uniform_real_distribution<double> near(-40000.0, 40000.0);
    std::uniform_real_distribution<double> wide(-5.0e9, 5.0e9);
    std::uniform_real_distribution<double> exponent(-30.0, 70.0);
    for (int round = 0; round < 300; ++round) {
        int length = round < 100 ? round : static_cast<int>(random() % 5000);
        std::vector<double> values(static_cast<std::size_t>(length));
        for (double &value : values) {
            switch (kind(random)) {
            case 0: {
                std::uint64_t bits = random();
                std::memcpy(&value, &bits, sizeof value);
                break;
            }
            case 1:
                value = wide(random);
                break;
            case 2:
                value = (random() % 2 == 0 ? 1.0 : -1.0) * std::pow(2.0, exponent(random));
                break;
            default:
                value = near(random);
                break;
            }
        }
        ASSERT_EQ(convertLaidOut(values, layout), referenceSamples(values)) << layout.what << ", round " << round;
    }
}

// The complex input as each host hands it to the module: the R11 host's two
// arrays, and Octave's pairs.
host::Array complexInput(const std::vector<double> &re, const std::vector<double> &im, bool interleaved) {
    host::Array array = fakehost::complexVector(re, im);
    array.interleaved = interleaved;
    return array;
}

TEST_F(ConversionTest, SamplesGoOutBigEndianWithBothLibrariesFromEitherHostsLayout) {
    std::vector<Conversion> cases = conversionCases();
    std::vector<double> re, im;
    std::vector<std::int16_t> i, q;
    for (int round = 0; round < 3; ++round) {
        for (std::size_t k = 0; k < cases.size(); ++k) {
            const Conversion &one = cases[(k + static_cast<std::size_t>(round)) % cases.size()];
            re.push_back(one.value);
            i.push_back(one.sample);
            const Conversion &other = cases[cases.size() - 1 - k];
            im.push_back(other.value);
            q.push_back(other.sample);
        }
    }
    for (bool interleaved : {false, true}) {
        for (Lib lib : {Lib::kNi, Lib::kSicl}) {
            std::string what = std::string(libName(lib)) + (interleaved ? ", interleaved" : ", apart");
            resetAll();
            setUpBus(lib);
            host::Array iq = complexInput(re, im, interleaved);
            host::Array name = fakehost::charArray("mix");
            EXPECT_EQ(fakehost::callGateway({&iq, &name}), fakehost::CallResult::kReturned) << what;
            EXPECT_EQ(wire(), lib == Lib::kNi ? niWire("mix", i, q) : siclWire("mix", i, q)) << what;
            EXPECT_EQ(printed().back(), kDone) << what;
        }
    }
}

TEST_F(ConversionTest, ARealFirstInputSendsAnAllZeroQPartFromEitherHost) {
    for (bool interleaved : {false, true}) {
        for (Lib lib : {Lib::kNi, Lib::kSicl}) {
            std::string what = std::string(libName(lib)) + (interleaved ? ", Octave's layout" : ", R11 layout");
            resetAll();
            setUpBus(lib);
            host::Array iq = fakehost::realVector({100.0, -200.0, 300.0});
            iq.interleaved = interleaved;
            host::Array name = fakehost::charArray("real");
            EXPECT_EQ(fakehost::callGateway({&iq, &name}), fakehost::CallResult::kReturned) << what;
            std::vector<std::int16_t> i = {100, -200, 300}, q = {0, 0, 0};
            EXPECT_EQ(wire(), lib == Lib::kNi ? niWire("real", i, q) : siclWire("real", i, q)) << what;
            EXPECT_EQ(printed().back(), kDone) << what;
        }
    }
}

}  // namespace
