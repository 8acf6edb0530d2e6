// The host services in GNU Octave, over Octave's own MEX API.
#include <mex.h>

#include <cstdarg>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "gateway/host.h"

namespace host {
namespace {

const mxArray *native(const Array *array) { return reinterpret_cast<const mxArray *>(array); }

int clampToInt(std::size_t value) { return value > INT_MAX ? INT_MAX : static_cast<int>(value); }

}  // namespace

int mexPrintf(const char *format, ...) {
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
    ::mexErrMsgTxt(text);
    __builtin_unreachable();
}

int mxGetM(const Array *array) { return clampToInt(::mxGetM(native(array))); }
int mxGetN(const Array *array) { return clampToInt(::mxGetN(native(array))); }
const double *mxGetPr(const Array *array) { return ::mxGetPr(native(array)); }
const double *mxGetPi(const Array *array) { return ::mxGetPi(native(array)); }
void *mxCalloc(std::size_t count, std::size_t size) { return ::mxCalloc(count, size); }
int mxGetString(const Array *array, char *buffer, int size) {
    return ::mxGetString(native(array), buffer, static_cast<mwSize>(size));
}
void mxFree(void *block) { ::mxFree(block); }
bool mxIsDouble(const Array *array) { return ::mxIsDouble(native(array)); }
bool mxIsSparse(const Array *array) { return ::mxIsSparse(native(array)); }

}  // namespace host
