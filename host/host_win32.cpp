// The host services on 32-bit Windows: the R11 services imported from the
// host executable (through the import library built from host_r11.def).
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
// The host's class tests answer with a one-byte boolean. Declared as C++
// bool, only the low byte of the result register is read, which is right
// whether the host fills the whole register or just that byte.
__declspec(dllimport) bool mxIsDouble(const mxArray *array);
__declspec(dllimport) bool mxIsSparse(const mxArray *array);
}

namespace host {
namespace {

const mxArray *native(const Array *array) { return reinterpret_cast<const mxArray *>(array); }

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
bool mxIsDouble(const Array *array) { return ::mxIsDouble(native(array)); }
bool mxIsSparse(const Array *array) { return ::mxIsSparse(native(array)); }

}  // namespace host
