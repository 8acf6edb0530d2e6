// Counts what one download takes from memory: the host blocks the module asks
// for (through the counting host), and the C++ heap allocations made on the
// module's behalf, told apart from the driver's by the calling code.
//
// Usage: vandrel_alloc [LEN [NAME]]. The driver libraries are the ones beside
// this executable, the module's system directory; the simulated bus is named
// by the simulator's own environment variable. Prints one JSON object and
// fails when the host blocks are not exactly the name and the sample buffer.
#include <dlfcn.h>
#include <execinfo.h>

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

__attribute__((noinline)) void countAllocation() {
    if (!counting || classifying) return;
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
}

void *allocate(std::size_t size) {
    void *block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) throw std::bad_alloc();
    return block;
}

}  // namespace

__attribute__((noinline)) void *operator new(std::size_t size) {
    countAllocation();
    return allocate(size);
}
__attribute__((noinline)) void *operator new[](std::size_t size) {
    countAllocation();
    return allocate(size);
}
void operator delete(void *block) noexcept { std::free(block); }
void operator delete[](void *block) noexcept { std::free(block); }
void operator delete(void *block, std::size_t) noexcept { std::free(block); }
void operator delete[](void *block, std::size_t) noexcept { std::free(block); }

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
                "\"module_heap_allocations_in_transfer\": %d, \"driver_heap_allocations_in_transfer\": %d}\n",
                len, transferred ? "true" : "false", host.allocations, host.allocatedBytes, expectedBytes,
                host.largestBlock, host.frees, host.transferAllocations, heap.module, heap.moduleInTransfer,
                heap.driverInTransfer);
    return asExpected && transferred ? 0 : 1;
}
