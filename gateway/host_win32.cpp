// The host services on 32-bit Windows: the R11 services imported from the
// host executable (through the import library built from host_r11.def).
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "gateway/host.h"

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
    // The text is formatted here and handed over as one "%s" argument, so
    // the host's own formatter never sees a conversion of ours.
    char line[1024];
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (length >= 0 && static_cast<std::size_t>(length) < sizeof line) return ::mexPrintf("%s", line);
    if (length < 0) return length;
    // A line longer than the stack buffer (a long waveform name); taken from
    // the C heap so that the host sees no allocation of the module's here.
    char *longLine = static_cast<char *>(std::malloc(static_cast<std::size_t>(length) + 1));
    if (longLine == nullptr) return ::mexPrintf("%s", line);
    va_start(args, format);
    std::vsnprintf(longLine, static_cast<std::size_t>(length) + 1, format, args);
    va_end(args);
    int result = ::mexPrintf("%s", longLine);
    std::free(longLine);
    return result;
}

void mexErrMsgTxt(const char *text) {
    // The host ends the call by unwinding past the module; it never returns.
    ::mexErrMsgTxt(text);
    std::abort();
}

int mxGetM(const Array *array) { return ::mxGetM(native(array)); }
int mxGetN(const Array *array) { return ::mxGetN(native(array)); }
const double *mxGetPr(const Array *array) { return ::mxGetPr(native(array)); }
const double *mxGetPi(const Array *array) { return ::mxGetPi(native(array)); }
void *mxCalloc(std::size_t count, std::size_t size) { return ::mxCalloc(count, size); }
int mxGetString(const Array *array, char *buffer, int size) { return ::mxGetString(native(array), buffer, size); }
void mxFree(void *block) { ::mxFree(block); }
bool mxIsDouble(const Array *array) { return ::mxIsDouble(native(array)); }
bool mxIsSparse(const Array *array) { return ::mxIsSparse(native(array)); }

}  // namespace host
