// The host services on 32-bit Windows: the nine R11 services imported from the
// host executable (through the import library built from host_r11.def), and
// the class tests looked up by name in the same module when the call needs them.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "host/host.h"
#include "host/host_line.h"

// The host's array, opaque to the module.
struct mxArray_tag;
typedef struct mxArray_tag mxArray;

// The R11 services as the host exports them: plain C names, the C calling
// convention, int dimensions and string sizes.
extern "C" {
__declspec(dllimport) int mxGetM(const mxArray *array);
__declspec(dllimport) int mxGetN(const mxArray *array);
__declspec(dllimport) double *mxGetPr(const mxArray *array);
__declspec(dllimport) double *mxGetPi(const mxArray *array);
__declspec(dllimport) void *mxCalloc(size_t count, size_t size);
__declspec(dllimport) void mxFree(void *block);
__declspec(dllimport) int mxGetString(const mxArray *array, char *buffer, int size);
__declspec(dllimport) int mexPrintf(const char *format, ...);
__declspec(dllimport) void mexErrMsgTxt(const char *text);
}

namespace host {
namespace {

const mxArray *native(const Array *array) { return reinterpret_cast<const mxArray *>(array); }

// A class test of the host: C convention, answering with a one-byte boolean.
// Typed as C++ bool, only the low byte of the result register is read, which
// is right whether the host fills the whole register or just that byte.
typedef bool (*ClassTest)(const mxArray *array);

// Any import beyond the nine would stop Windows from loading the module into
// a host that lacks it, so further services are found by name, in the module
// that provides the nine: the allocation base of one of them is that
// module's handle. Null when the host does not export the name.
ClassTest hostClassTest(const char *name) {
    MEMORY_BASIC_INFORMATION region;
    if (VirtualQuery(reinterpret_cast<const void *>(&::mxGetM), &region, sizeof region) != sizeof region ||
        region.AllocationBase == nullptr)
        return nullptr;
    FARPROC found = GetProcAddress(static_cast<HMODULE>(region.AllocationBase), name);
    return reinterpret_cast<ClassTest>(reinterpret_cast<void *>(found));
}

}  // namespace

int mexPrintf(const char *format, ...) {
    va_list args;
    va_start(args, format);
    int result = printFormatted([](const char *text) { return ::mexPrintf("%s", text); }, format, args);
    va_end(args);
    return result;
}

void mexErrMsgTxt(const char *text) {
    // The host ends the call by unwinding past the module; it never returns.
    ::mexErrMsgTxt(text);
    std::abort();
}

int mxGetM(const Array *array) { return ::mxGetM(native(array)); }
int mxGetN(const Array *array) { return ::mxGetN(native(array)); }
// The R11 host keeps the real and imaginary parts as two arrays of their own.
SampleView viewSamples(const Array *array) {
    const double *re = ::mxGetPr(native(array));
    return SampleView{re, ::mxGetPi(native(array)), 1};
}
void *mxCalloc(std::size_t count, std::size_t size) { return ::mxCalloc(count, size); }
int mxGetString(const Array *array, char *buffer, int size) { return ::mxGetString(native(array), buffer, size); }
void mxFree(void *block) { ::mxFree(block); }
// A host without a class test gets no refusal from it: the input is taken as
// a full double array, as the R11 services alone describe it.
bool mxIsDouble(const Array *array) {
    ClassTest test = hostClassTest("mxIsDouble");
    return test == nullptr || test(native(array));
}

bool mxIsSparse(const Array *array) {
    ClassTest test = hostClassTest("mxIsSparse");
    return test != nullptr && test(native(array));
}

}  // namespace host
