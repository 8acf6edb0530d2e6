// Counts what one download takes from memory: the host blocks the module asks
// for (through the counting host), and the C++ heap allocations made on the
// module's behalf, told apart from the driver's by the calling code, with the
// most the driver held at once.
//
// Usage: vandrel_alloc [LEN [NAME]]. The driver libraries are the ones beside
// this executable, the module's system directory; the simulated bus is named
// by the simulator's own environment variable. Prints one JSON object and
// fails when the host blocks are not exactly the name and the sample buffer.
#include <dlfcn.h>
#include <execinfo.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "bench/bench_host.h"
#include "bench/signal.h"

namespace {

enum Owner { kOwnerOther, kOwnerModule, kOwnerDriver };

struct HeapCounts {
    int module;              // by the module, over the whole call
    int moduleInTransfer;    // by the module between "Loading" and "Done"
    int driverInTransfer;    // by the driver library in the same span
    std::size_t driverLive;  // bytes the driver holds now
    std::size_t driverPeak;  // the most it held at once during the call
};

// Each block carries its owner and size in front of it, so that its release
// is counted against the same owner.
struct alignas(std::max_align_t) BlockHeader {
    std::size_t size;
    Owner owner;
};

HeapCounts heap;
bool counting = false;
bool classifying = false;  // guards against the backtrace's own needs
const void *executableBase = nullptr;

bool endsWith(const char *text, const char *suffix) {
    std::size_t length = std::strlen(text), suffixLength = std::strlen(suffix);
    return length >= suffixLength && std::strcmp(text + length - suffixLength, suffix) == 0;
}

// The code on whose behalf operator new runs: the first frame, past operator
// new itself and the standard library, that lies in this executable (the
// module's objects are linked into it) or in a driver library.
__attribute__((noinline)) Owner allocationOwner() {
    void *frames[24];
    int count = backtrace(frames, 24);
    // Frames 0 to 2 are this function, countAllocation and operator new.
    for (int k = 3; k < count; ++k) {
        Dl_info info;
        if (dladdr(frames[k], &info) == 0) continue;
        if (info.dli_fbase == executableBase) return kOwnerModule;
        if (info.dli_fname != nullptr && endsWith(info.dli_fname, ".dll")) return kOwnerDriver;
    }
    return kOwnerOther;
}

__attribute__((noinline)) Owner countAllocation() {
    if (!counting || classifying) return kOwnerOther;
    classifying = true;
    Owner owner = allocationOwner();
    bool inTransfer = benchhost::phase() == benchhost::kInTransfer;
    if (owner == kOwnerModule) {
        ++heap.module;
        if (inTransfer) ++heap.moduleInTransfer;
    } else if (owner == kOwnerDriver && inTransfer) {
        ++heap.driverInTransfer;
    }
    classifying = false;
    return owner;
}

void *allocate(std::size_t size, Owner owner) {
    BlockHeader *header = static_cast<BlockHeader *>(std::malloc(sizeof(BlockHeader) + (size == 0 ? 1 : size)));
    if (header == nullptr) throw std::bad_alloc();
    header->size = size;
    header->owner = owner;
    if (owner == kOwnerDriver) {
        heap.driverLive += size;
        if (heap.driverLive > heap.driverPeak) heap.driverPeak = heap.driverLive;
    }
    return header + 1;
}

void release(void *block) {
    if (block == nullptr) return;
    BlockHeader *header = static_cast<BlockHeader *>(block) - 1;
    if (header->owner == kOwnerDriver) heap.driverLive -= header->size;
    std::free(header);
}

}  // namespace

__attribute__((noinline)) void *operator new(std::size_t size) { return allocate(size, countAllocation()); }
__attribute__((noinline)) void *operator new[](std::size_t size) { return allocate(size, countAllocation()); }
void operator delete(void *block) noexcept { release(block); }
void operator delete[](void *block) noexcept { release(block); }
void operator delete(void *block, std::size_t) noexcept { release(block); }
void operator delete[](void *block, std::size_t) noexcept { release(block); }

int main(int argc, char **argv) {
    int len = argc > 1 ? std::atoi(argv[1]) : 1 << 20;
    const char *name = argc > 2 ? argv[2] : "alloc_count";
    Dl_info self;
    if (dladdr(reinterpret_cast<void *>(&main), &self) != 0) executableBase = self.dli_fbase;
    void *warm[4];
    backtrace(warm, 4);  // loads the unwinder before anything is counted

    bench::Waveform data = bench::makeWaveform(len, false);
    host::Array iq = benchhost::vectorArray(data.re.data(), data.im.data(), len);
    host::Array nameArray = benchhost::textArray(name);
    benchhost::resetCounts();
    counting = true;
    benchhost::callGateway(&iq, &nameArray);
    counting = false;

    const benchhost::HostCounts &host = benchhost::counts();
    std::size_t expectedBytes = std::strlen(name) + 1 + 2 * static_cast<std::size_t>(len);
    bool transferred = benchhost::phase() == benchhost::kAfterTransfer;
    bool asExpected = host.allocations == 2 && host.frees == 2 && host.allocatedBytes == expectedBytes &&
                      host.transferAllocations == 0;
    std::printf("{\"len\": %d, \"transferred\": %s, \"host_allocations\": %d, \"host_bytes\": %zu, "
                "\"expected_host_bytes\": %zu, \"largest_host_block\": %zu, \"host_frees\": %d, "
                "\"host_allocations_in_transfer\": %d, \"module_heap_allocations\": %d, "
                "\"module_heap_allocations_in_transfer\": %d, \"driver_heap_allocations_in_transfer\": %d, "
                "\"driver_heap_peak_bytes\": %zu}\n",
                len, transferred ? "true" : "false", host.allocations, host.allocatedBytes, expectedBytes,
                host.largestBlock, host.frees, host.transferAllocations, heap.module, heap.moduleInTransfer,
                heap.driverInTransfer, heap.driverPeak);
    return asExpected && transferred ? 0 : 1;
}
