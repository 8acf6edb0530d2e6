// The benchmarks' host: arrays over caller-owned memory, console lines kept
// quiet unless asked for, and counts of the host blocks the module takes.
#include "bench/bench_host.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "gateway/gateway.h"

namespace {

bool startsWith(const char *text, const char *prefix) {
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

}  // namespace

namespace benchhost {
namespace {

HostCounts hostCounts;
Phase currentPhase = kBeforeTransfer;
bool echoLines = false;

}  // namespace

HostCounts &counts() { return hostCounts; }
Phase phase() { return currentPhase; }
void resetCounts() {
    hostCounts = HostCounts();
    currentPhase = kBeforeTransfer;
}
void setEcho(bool echo) { echoLines = echo; }

host::Array vectorArray(const double *real, const double *imaginary, int len) {
    host::Array array = {1, len, real, imaginary, 1, nullptr};
    return array;
}

host::Array textArray(const char *text) {
    host::Array array = {1, static_cast<int>(std::strlen(text)), nullptr, nullptr, 1, text};
    return array;
}

void callGateway(const host::Array *data, const host::Array *name) {
    const host::Array *inputs[] = {data, name};
    mexFunction(0, nullptr, 2, inputs);
}

}  // namespace benchhost

namespace host {

int mexPrintf(const char *format, ...) {
    char line[1024];
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    ++benchhost::hostCounts.lines;
    if (startsWith(line, "Loading the ")) benchhost::currentPhase = benchhost::kInTransfer;
    if (startsWith(line, "Done loading")) benchhost::currentPhase = benchhost::kAfterTransfer;
    if (benchhost::echoLines) std::fputs(line, stdout);
    return length;
}

void mexErrMsgTxt(const char *text) {
    std::fprintf(stderr, "vandrel error: %s\n", text);
    std::exit(2);
}

int mxGetM(const Array *array) { return array->rows; }
int mxGetN(const Array *array) { return array->columns; }
SampleView viewSamples(const Array *array) { return SampleView{array->real, array->imaginary, array->stride}; }

void *mxCalloc(std::size_t count, std::size_t size) {
    benchhost::HostCounts &c = benchhost::hostCounts;
    ++c.allocations;
    c.allocatedBytes += count * size;
    if (count * size > c.largestBlock) c.largestBlock = count * size;
    if (benchhost::currentPhase == benchhost::kInTransfer) ++c.transferAllocations;
    return std::calloc(count == 0 ? 1 : count, size == 0 ? 1 : size);
}

int mxGetString(const Array *array, char *buffer, int size) {
    if (array->text == nullptr || size <= 0) return 1;
    std::size_t length = std::strlen(array->text);
    std::size_t copied = length < static_cast<std::size_t>(size - 1) ? length : static_cast<std::size_t>(size - 1);
    std::memcpy(buffer, array->text, copied);
    buffer[copied] = '\0';
    return copied == length ? 0 : 1;
}

void mxFree(void *block) {
    ++benchhost::hostCounts.frees;
    std::free(block);
}

bool mxIsDouble(const Array *array) { return array->text == nullptr; }
bool mxIsSparse(const Array *) { return false; }

}  // namespace host
