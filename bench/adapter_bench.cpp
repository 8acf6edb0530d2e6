// The linux-gpib adapter's byte-swapped write of one part, through its
// 64 KiB buffer in pieces, against memcpy of the same bytes.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "adapters/linux-gpib/swap_write.h"

namespace {

unsigned char swapBuffer[adapter::kSwapBufferBytes];

// The library below takes each piece at once, as a card that sends by DMA
// from the buffer does; only the adapter's own work is timed.
adapter::PieceResult takePiece(void *context, const unsigned char *bytes, long count, bool) {
    benchmark::DoNotOptimize(bytes);
    *static_cast<long *>(context) += count;
    return adapter::PieceResult{0x0100, 0, count};
}

std::vector<unsigned char> partBytes(long points) {
    std::vector<unsigned char> bytes(static_cast<std::size_t>(2 * points));
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i * 31 + i / 509);
    return bytes;
}

void BM_AdapterSwappedWrite(benchmark::State &state) {
    const std::vector<unsigned char> data = partBytes(state.range(0));
    const long count = static_cast<long>(data.size());
    for (auto _ : state) {
        long sent = 0;
        adapter::PieceResult result =
            adapter::writeSwapped(data.data(), count, true, swapBuffer, sizeof swapBuffer, takePiece, &sent);
        benchmark::DoNotOptimize(result);
        benchmark::ClobberMemory();
        if (sent != count) state.SkipWithError("the swapped write sent less than the part");
    }
    state.SetBytesProcessed(state.iterations() * count);
}

void BM_AdapterMemcpy(benchmark::State &state) {
    const std::vector<unsigned char> data = partBytes(state.range(0));
    std::vector<unsigned char> copy(data.size(), 0);
    for (auto _ : state) {
        std::memcpy(copy.data(), data.data(), data.size());
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<long long>(data.size()));
}

// Points of one part: 1k for the smoke run under ctest, 1M for the table.
BENCHMARK(BM_AdapterSwappedWrite)->Arg(1 << 10)->Arg(1 << 20);
BENCHMARK(BM_AdapterMemcpy)->Arg(1 << 10)->Arg(1 << 20);

}  // namespace

BENCHMARK_MAIN();
