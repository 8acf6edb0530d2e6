// Test waveforms for the benchmarks and the module's host-side block path.
#include "bench/signal.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "download/download.h"

namespace bench {
namespace {

const double kPi = 3.14159265358979323846;

// A small deterministic generator so that every run times the same data.
std::uint32_t nextRandom(std::uint32_t *seed) {
    *seed = *seed * 1664525u + 1013904223u;
    return *seed >> 8;
}

double tone(int i, double phase) {
    return 0.55 * std::sin(2 * kPi * 0.0123 * i + phase) + 0.3 * std::sin(2 * kPi * 0.0517 * i + 1.0 + phase) +
           0.15 * std::sin(2 * kPi * 0.1931 * i + 2.0 + phase);
}

void fill(std::vector<double> *values, int len, double phase, bool withOutliers, std::uint32_t seed) {
    values->resize(static_cast<std::size_t>(len));
    const double scale = withOutliers ? 32767.0 : 32000.0;
    for (int i = 0; i < len; ++i) (*values)[i] = scale * tone(i, phase);
    if (!withOutliers) return;
    for (int i = 0; i < len; ++i) {
        std::uint32_t draw = nextRandom(&seed);
        if (draw % 1000 >= 3) continue;
        double magnitude = 32768.0 + (draw >> 10) % 40000;
        if (draw % 97 == 0) magnitude = 3.0e9;    // beyond 32 bits
        if (draw % 389 == 0) magnitude = 1.0e19;  // beyond 64 bits
        (*values)[i] = (*values)[i] < 0 ? -magnitude : magnitude;
    }
    if (len >= 2) {
        (*values)[len / 3] = std::numeric_limits<double>::quiet_NaN();
        (*values)[len - 1] = std::numeric_limits<double>::quiet_NaN();
    }
}

int decimalDigits(std::size_t value) {
    int digits = 1;
    for (; value >= 10; value /= 10) ++digits;
    return digits;
}

}  // namespace

Waveform makeWaveform(int len, bool withOutliers) {
    Waveform waveform;
    fill(&waveform.re, len, 0.0, withOutliers, 12345u);
    fill(&waveform.im, len, kPi / 2, withOutliers, 67890u);
    return waveform;
}

std::vector<double> interleave(const Waveform &waveform) {
    std::vector<double> pairs(2 * waveform.re.size());
    for (std::size_t i = 0; i < waveform.re.size(); ++i) {
        pairs[2 * i] = waveform.re[i];
        pairs[2 * i + 1] = waveform.im[i];
    }
    return pairs;
}

std::int16_t referenceSample(double value) {
    if (std::isnan(value) || std::isinf(value) || std::fabs(value) >= 9223372036854775808.0) return 0;
    long long whole = static_cast<long long>(value);  // truncates toward zero
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(static_cast<unsigned long long>(whole) & 0xffffu));
}

void referenceConvert(const double *values, int len, std::int16_t *samples) {
    for (int i = 0; i < len; ++i) samples[i] = values == nullptr ? 0 : referenceSample(values[i]);
}

std::size_t blockSize(int len) {
    std::size_t bytes = 2 * static_cast<std::size_t>(len);
    return 2 + static_cast<std::size_t>(decimalDigits(bytes)) + bytes;
}

std::size_t buildBlock(const double *values, int len, std::int16_t *samples, unsigned char *block) {
    convertSamples(values, 1, len, samples);
    std::size_t bytes = 2 * static_cast<std::size_t>(len);
    int header = std::snprintf(reinterpret_cast<char *>(block), 16, "#%d%zu", decimalDigits(bytes), bytes);
    unsigned char *out = block + header;
    // The swap the driver does as it writes, four samples at a time: the two
    // bytes of each 16-bit lane of a 64-bit word trade places.
    const std::uint64_t kLowBytes = 0x00ff00ff00ff00ffULL;
    const unsigned char *in = reinterpret_cast<const unsigned char *>(samples);
    int i = 0;
    for (; i + 4 <= len; i += 4) {
        std::uint64_t word;
        std::memcpy(&word, in + 2 * i, sizeof word);
        word = ((word & kLowBytes) << 8) | ((word >> 8) & kLowBytes);
        std::memcpy(out + 2 * i, &word, sizeof word);
    }
    for (; i < len; ++i) {
        out[2 * i] = in[2 * i + 1];
        out[2 * i + 1] = in[2 * i];
    }
    return static_cast<std::size_t>(header) + bytes;
}

}  // namespace bench
