// The host services in GNU Octave, over Octave's own MEX API.
#include <mex.h>

#include <cstdarg>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "host/host.h"
#include "host/host_line.h"

namespace host {
namespace {

const mxArray *native(const Array *array) { return reinterpret_cast<const mxArray *>(array); }

int clampToInt(std::size_t value) { return value > INT_MAX ? INT_MAX : static_cast<int>(value); }

}  // namespace

int mexPrintf(const char *format, ...) {
    va_list args;
    va_start(args, format);
    int result = printFormatted([](const char *text) { return ::mexPrintf("%s", text); }, format, args);
    va_end(args);
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
