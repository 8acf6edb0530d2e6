// A host for the benchmarks behind the host:: seam: plain vectors for arrays,
// and a count of every block the module takes from the host.
#ifndef VANDREL_BENCH_BENCH_HOST_H
#define VANDREL_BENCH_BENCH_HOST_H

#include <cstddef>

#include "host/host.h"

struct host::Array {
    int rows;
    int columns;
    const double *real;       // null for a text
    const double *imaginary;  // null when real
    int stride;               // the distance between consecutive values
    const char *text;         // a text's characters, null for numbers
};

namespace benchhost {

// Where the download is, as its console lines tell: the transfer runs from
// the first "Loading" line to the "Done" line.
enum Phase { kBeforeTransfer, kInTransfer, kAfterTransfer };

struct HostCounts {
    int allocations;                // mxCalloc calls
    std::size_t allocatedBytes;     // their total size
    std::size_t largestBlock;
    int frees;                      // mxFree calls
    int transferAllocations;        // mxCalloc calls during the transfer
    int lines;                      // mexPrintf calls
};

HostCounts &counts();
Phase phase();
void resetCounts();
// Whether mexPrintf writes its text to standard output (off by default).
void setEcho(bool echo);

// A vector whose parts lie apart (stride 1).
host::Array vectorArray(const double *real, const double *imaginary, int len);
host::Array textArray(const char *text);

// Calls the module's gateway with a waveform and a name, as the host would.
void callGateway(const host::Array *data, const host::Array *name);

}  // namespace benchhost

#endif
