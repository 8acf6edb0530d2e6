// Benchmarks of the module's sample conversion against memcpy of the same
// input bytes and a plain scalar loop, for values that lie apart (stride 1)
// and for Octave's interleaved pairs (stride 2), and of its host-side block
// path; also
// checks the conversion, and writes the shared test signal and the module's
// blocks for the peers' byte comparison.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bench/signal.h"
#include "download/download.h"

namespace {

// Waveforms are made once per size and shape and kept for the whole run.
const bench::Waveform &waveform(int len, bool withOutliers) {
    static std::map<std::pair<int, bool>, bench::Waveform> made;
    std::pair<int, bool> key(len, withOutliers);
    auto found = made.find(key);
    if (found == made.end()) found = made.emplace(key, bench::makeWaveform(len, withOutliers)).first;
    return found->second;
}

void setPerSample(benchmark::State &state, long long samples, long long bytes) {
    state.counters["samples"] = static_cast<double>(samples);
    state.counters["ns_per_sample"] =
        benchmark::Counter(static_cast<double>(samples) * 1e-9,
                           benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.SetBytesProcessed(state.iterations() * bytes);
}

// The interleaved pairs of the waveform, made once per size.
const std::vector<double> &pairs(int len) {
    static std::map<int, std::vector<double>> made;
    auto found = made.find(len);
    if (found == made.end()) found = made.emplace(len, bench::interleave(waveform(len, true))).first;
    return found->second;
}

// Fails the benchmark when the module's conversion of len values at the
// stride and the reference differ.
bool conversionAgrees(benchmark::State &state, const double *values, int stride, int len) {
    std::vector<std::int16_t> ours(static_cast<std::size_t>(len), 0x5555), reference(ours.size(), 0x2222);
    std::vector<double> gathered(ours.size());
    for (int i = 0; i < len; ++i) gathered[static_cast<std::size_t>(i)] = values[static_cast<std::ptrdiff_t>(i) * stride];
    convertSamples(values, stride, len, ours.data());
    bench::referenceConvert(gathered.data(), len, reference.data());
    if (ours != reference) {
        state.SkipWithError("convertSamples differs from the reference loop");
        return false;
    }
    return true;
}

void BM_Convert(benchmark::State &state) {
    int len = static_cast<int>(state.range(0));
    const std::vector<double> &values = waveform(len, true).re;
    if (!conversionAgrees(state, values.data(), 1, len)) return;
    std::vector<std::int16_t> samples(values.size(), 0);
    for (auto _ : state) {
        convertSamples(values.data(), 1, len, samples.data());
        benchmark::DoNotOptimize(samples.data());
        benchmark::ClobberMemory();
    }
    setPerSample(state, len, 8LL * len);
}

// One part of Octave's interleaved pairs, the imaginary one (the odd
// doubles): the conversion reads every cache line of the pairs, 16 bytes a
// point, to take 8 of them.
void BM_ConvertPairs(benchmark::State &state) {
    int len = static_cast<int>(state.range(0));
    const std::vector<double> &values = pairs(len);
    if (!conversionAgrees(state, values.data(), 2, len) || !conversionAgrees(state, values.data() + 1, 2, len))
        return;
    std::vector<std::int16_t> samples(static_cast<std::size_t>(len), 0);
    for (auto _ : state) {
        convertSamples(values.data() + 1, 2, len, samples.data());
        benchmark::DoNotOptimize(samples.data());
        benchmark::ClobberMemory();
    }
    setPerSample(state, len, 16LL * len);
}

// memcpy of the bytes that conversion reads: all the pairs.
void BM_MemcpyPairs(benchmark::State &state) {
    int len = static_cast<int>(state.range(0));
    const std::vector<double> &values = pairs(len);
    std::vector<double> copy(values.size(), 0.0);
    for (auto _ : state) {
        std::memcpy(copy.data(), values.data(), values.size() * sizeof(double));
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    setPerSample(state, len, 16LL * len);
}

void BM_Reference(benchmark::State &state) {
    int len = static_cast<int>(state.range(0));
    const std::vector<double> &values = waveform(len, true).re;
    std::vector<std::int16_t> samples(values.size(), 0);
    for (auto _ : state) {
        bench::referenceConvert(values.data(), len, samples.data());
        benchmark::DoNotOptimize(samples.data());
        benchmark::ClobberMemory();
    }
    setPerSample(state, len, 8LL * len);
}

void BM_Memcpy(benchmark::State &state) {
    int len = static_cast<int>(state.range(0));
    const std::vector<double> &values = waveform(len, true).re;
    std::vector<double> copy(values.size(), 0.0);
    for (auto _ : state) {
        std::memcpy(copy.data(), values.data(), values.size() * sizeof(double));
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    setPerSample(state, len, 8LL * len);
}

// Both parts of len complex points turned into their two blocks; in-range
// data, the same the peers are timed on.
void BM_BlockPath(benchmark::State &state) {
    int len = static_cast<int>(state.range(0));
    const bench::Waveform &data = waveform(len, false);
    std::vector<std::int16_t> samples(static_cast<std::size_t>(len), 0);
    std::vector<unsigned char> blockI(bench::blockSize(len)), blockQ(bench::blockSize(len));
    for (auto _ : state) {
        bench::buildBlock(data.re.data(), len, samples.data(), blockI.data());
        bench::buildBlock(data.im.data(), len, samples.data(), blockQ.data());
        benchmark::DoNotOptimize(blockI.data());
        benchmark::DoNotOptimize(blockQ.data());
        benchmark::ClobberMemory();
    }
    setPerSample(state, len, 16LL * len);
}

const long long kSizes[] = {1 << 10, 1 << 16, 1 << 20, 1 << 24};

void conversionSizes(benchmark::internal::Benchmark *b) {
    for (long long size : kSizes) b->Arg(size);
}

// Processor time, not wall time: on a shared two-core machine a benchmark
// that is descheduled would otherwise be charged for another's work.
BENCHMARK(BM_Memcpy)->Apply(conversionSizes);
BENCHMARK(BM_Convert)->Apply(conversionSizes);
BENCHMARK(BM_Reference)->Apply(conversionSizes);
BENCHMARK(BM_MemcpyPairs)->Apply(conversionSizes);
BENCHMARK(BM_ConvertPairs)->Apply(conversionSizes);
BENCHMARK(BM_BlockPath)->Arg(1 << 20);

bool writeFile(const char *path, const void *data, std::size_t size) {
    std::FILE *file = std::fopen(path, "wb");
    if (file == nullptr) return false;
    bool written = std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && written;
}

// signal FILE LEN [outliers]: the waveform as LEN real then LEN imaginary
// little-endian doubles.
int writeSignal(int argc, char **argv) {
    if (argc < 4) return 2;
    int len = std::atoi(argv[3]);
    bool withOutliers = argc > 4 && std::strcmp(argv[4], "outliers") == 0;
    bench::Waveform data = bench::makeWaveform(len, withOutliers);
    std::vector<double> both(data.re);
    both.insert(both.end(), data.im.begin(), data.im.end());
    return writeFile(argv[2], both.data(), both.size() * sizeof(double)) ? 0 : 1;
}

// blocks SIGNAL LEN OUT_I OUT_Q: the module's two blocks for a signal file.
int writeBlocks(int argc, char **argv) {
    if (argc < 6) return 2;
    int len = std::atoi(argv[3]);
    std::vector<double> both(2 * static_cast<std::size_t>(len));
    std::FILE *file = std::fopen(argv[2], "rb");
    if (file == nullptr) return 1;
    std::size_t got = std::fread(both.data(), sizeof(double), both.size(), file);
    std::fclose(file);
    if (got != both.size()) return 1;
    std::vector<std::int16_t> samples(static_cast<std::size_t>(len));
    std::vector<unsigned char> block(bench::blockSize(len));
    for (int part = 0; part < 2; ++part) {
        std::size_t size = bench::buildBlock(both.data() + part * static_cast<std::size_t>(len), len,
                                             samples.data(), block.data());
        if (!writeFile(argv[4 + part], block.data(), size)) return 1;
    }
    return 0;
}

// check: the module's conversion against the reference loop on the
// benchmarks' own signals, at lengths that leave every kind of tail, for
// values apart and for both parts of the interleaved pairs, and on a null
// input; fails on the first difference.
int checkConversion() {
    const int kLengths[] = {0, 1, 7, 8, 15, 16, 17, 31, 1000, 1 << 10, (1 << 16) + 13};
    for (int len : kLengths) {
        bench::Waveform data = bench::makeWaveform(len, true);
        std::vector<double> interleaved = bench::interleave(data);
        struct Input {
            const char *what;
            const double *values;
            int stride;
            const double *expected;
        };
        const Input inputs[] = {
            {"real part", data.re.data(), 1, data.re.data()},
            {"interleaved real part", interleaved.data(), 2, data.re.data()},
            {"interleaved imaginary part", interleaved.empty() ? nullptr : interleaved.data() + 1, 2, data.im.data()},
            {"null input", nullptr, 1, nullptr},
        };
        for (const Input &input : inputs) {
            std::vector<std::int16_t> ours(static_cast<std::size_t>(len) + 1, 0x5555);
            std::vector<std::int16_t> reference(static_cast<std::size_t>(len) + 1, 0x5555);
            convertSamples(input.values, input.stride, len, ours.data());
            bench::referenceConvert(input.expected, len, reference.data());
            if (ours != reference) {
                std::fprintf(stderr, "convertSamples differs from the reference at %d points (%s)\n", len, input.what);
                return 1;
            }
        }
    }
    std::printf("convertSamples agrees with the reference loop\n");
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc > 1 && std::strcmp(argv[1], "check") == 0) return checkConversion();
    if (argc > 1 && std::strcmp(argv[1], "signal") == 0) return writeSignal(argc, argv);
    if (argc > 1 && std::strcmp(argv[1], "blocks") == 0) return writeBlocks(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
