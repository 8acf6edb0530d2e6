// The 16-bit sample conversion: the table of edge values, the agreement with
// the rule value by value, and the samples as they reach the instrument.
#include <cmath>
#include <limits>

#include "unit_fixture.h"
#include "wire.h"

namespace {

enum class Lib { kNi, kSicl };
const char *libName(Lib lib) { return lib == Lib::kNi ? "NI-488.2" : "SICL"; }

const char kDone[] = "Done loading the waveform into the KVR dual arb.\n";

class ConversionTest : public UnitTest {
protected:
    // A driver, an interface and the instrument at 19.
    static void setUpBus(Lib lib) {
        if (lib == Lib::kNi) {
            fakebus::installNi();
            fakebus::bus().niBoards = {0};
        } else {
            fakebus::installSicl();
            fakebus::bus().siclInterfaces = {"hpib"};
        }
        fakebus::addDevice(19, fakebus::kvrReply());
    }

    static const std::string &wire() { return fakebus::bus().devices[19].received; }
};

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

TEST_F(ConversionTest, SamplesAreTruncatedToTheirLow16Bits) {
    std::vector<Conversion> cases = conversionCases();
    std::vector<double> values;
    for (const Conversion &c : cases) values.push_back(c.value);
    std::vector<std::int16_t> samples(values.size() + 1, 0x5A5A);
    convertSamples(values.data(), static_cast<int>(values.size()), samples.data());
    for (std::size_t k = 0; k < cases.size(); ++k)
        EXPECT_EQ(samples[k], cases[k].sample) << "value " << cases[k].value;
    EXPECT_EQ(samples.back(), 0x5A5A) << "written past len";

    std::vector<std::int16_t> zeros(4, 77);
    convertSamples(nullptr, 3, zeros.data());
    EXPECT_EQ(zeros, (std::vector<std::int16_t>{0, 0, 0, 77}));
}

// The rule itself, value by value, for comparison with the module's conversion.
std::int16_t referenceSample(double value) {
    if (std::isnan(value) || std::fabs(value) >= std::ldexp(1.0, 63)) return 0;
    long long whole = static_cast<long long>(value);
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(static_cast<unsigned long long>(whole)));
}

TEST_F(ConversionTest, TheConversionAgreesForEveryLengthAndEveryPositionOfAnOddValue) {
    const double odd[] = {std::nan(""), 3.0e9, -3.0e9, 1.0e19, -2147483648.0, 2147483647.9, -40000.7,
                          std::numeric_limits<double>::infinity()};
    for (int length = 0; length <= 70; ++length) {
        std::vector<double> values(static_cast<std::size_t>(length));
        for (int k = 0; k < length; ++k) values[static_cast<std::size_t>(k)] = (k % 7 - 3) * 12345.67 + k * 0.5;
        std::vector<std::int16_t> samples(static_cast<std::size_t>(length) + 1, 0x5A5A);
        convertSamples(values.data(), length, samples.data());
        for (int k = 0; k < length; ++k)
            ASSERT_EQ(samples[static_cast<std::size_t>(k)], referenceSample(values[static_cast<std::size_t>(k)]))
                << "length " << length << " at " << k;
        ASSERT_EQ(samples.back(), 0x5A5A) << "written past length " << length;
        for (int position = 0; position < length; ++position) {
            std::vector<double> mixed = values;
            mixed[static_cast<std::size_t>(position)] = odd[position % (sizeof odd / sizeof odd[0])];
            convertSamples(mixed.data(), length, samples.data());
            for (int k = 0; k < length; ++k)
                ASSERT_EQ(samples[static_cast<std::size_t>(k)], referenceSample(mixed[static_cast<std::size_t>(k)]))
                    << "length " << length << ", odd value at " << position << ", sample " << k;
        }
    }
}

TEST_F(ConversionTest, SamplesGoOutBigEndianWithBothLibraries) {
    std::vector<Conversion> cases = conversionCases();
    std::vector<double> re, im;
    std::vector<std::int16_t> i, q;
    for (std::size_t k = 0; k < cases.size(); ++k) {
        re.push_back(cases[k].value);
        i.push_back(cases[k].sample);
        const Conversion &other = cases[cases.size() - 1 - k];
        im.push_back(other.value);
        q.push_back(other.sample);
    }
    for (Lib lib : {Lib::kNi, Lib::kSicl}) {
        resetAll();
        setUpBus(lib);
        download(re, im, "mix");
        EXPECT_EQ(wire(), lib == Lib::kNi ? niWire("mix", i, q) : siclWire("mix", i, q)) << libName(lib);
    }
}

TEST_F(ConversionTest, ARealFirstInputSendsAnAllZeroQPart) {
    for (Lib lib : {Lib::kNi, Lib::kSicl}) {
        resetAll();
        setUpBus(lib);
        host::Array iq = fakehost::realVector({100.0, -200.0, 300.0});
        host::Array name = fakehost::charArray("real");
        EXPECT_EQ(fakehost::callGateway({&iq, &name}), fakehost::CallResult::kReturned);
        std::vector<std::int16_t> i = {100, -200, 300}, q = {0, 0, 0};
        EXPECT_EQ(wire(), lib == Lib::kNi ? niWire("real", i, q) : siclWire("real", i, q)) << libName(lib);
        EXPECT_EQ(printed().back(), kDone) << libName(lib);
    }
}

}  // namespace
