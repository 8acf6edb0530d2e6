// Test waveforms for the benchmarks, and the host-side block path they time:
// samples, definite-length header and the byte order the bus carries.
#ifndef VANDREL_BENCH_SIGNAL_H
#define VANDREL_BENCH_SIGNAL_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace bench {

// A multi-tone I/Q signal near full scale. With outliers, about 3 values in
// 1000 lie beyond +-32768 (some beyond 2^31 and 2^63) and two are NaN, as a
// clipped or badly scaled waveform would have; without, every value lies
// within the 16-bit range.
struct Waveform {
    std::vector<double> re;
    std::vector<double> im;
};
Waveform makeWaveform(int len, bool withOutliers);
// The same points as Octave keeps a complex array: pairs of real and
// imaginary doubles, exactly 2 * len of them.
std::vector<double> interleave(const Waveform &waveform);

// The conversion written as plainly as possible: the reference the module's
// conversion must agree with.
std::int16_t referenceSample(double value);
void referenceConvert(const double *values, int len, std::int16_t *samples);

// Size of one definite-length block of len samples: "#", the digit count,
// the byte count, then 2 * len bytes.
std::size_t blockSize(int len);

// The module's host-side path for one part: convertSamples into the sample
// buffer, then the header and the samples most significant byte first, as
// the NI-488.2 driver's byte swapping puts them on the bus, written into
// block (blockSize(len) bytes). Returns the bytes written.
std::size_t buildBlock(const double *values, int len, std::int16_t *samples, unsigned char *block);

}  // namespace bench

#endif
