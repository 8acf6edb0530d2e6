// The host services in GNU Octave, over Octave's own MEX API in its
// interleaved complex mode: the module is built with
// MX_HAS_INTERLEAVED_COMPLEX and carries the marker that tells Octave so
// (host_octave_interleaved.c), as mkoctfile's -R2018a builds it. Octave then
// hands over a complex argument's own storage instead of copying it into
// separate real and imaginary arrays first.
#include <mex.h>

#if !MX_HAS_INTERLEAVED_COMPLEX
#error "the Octave host layer is built in the interleaved complex mode (MX_HAS_INTERLEAVED_COMPLEX=1)"
#endif

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
SampleView viewSamples(const Array *array) {
    const mxArray *data = native(array);
    if (::mxIsComplex(data)) {
        // One pair of doubles a point, the real value first.
        const mxComplexDouble *pairs = ::mxGetComplexDoubles(data);
        if (pairs == nullptr) return SampleView{nullptr, nullptr, 2};
        return SampleView{&pairs->real, &pairs->imag, 2};
    }
    return SampleView{::mxGetDoubles(data), nullptr, 1};
}
void *mxCalloc(std::size_t count, std::size_t size) { return ::mxCalloc(count, size); }
int mxGetString(const Array *array, char *buffer, int size) {
    return ::mxGetString(native(array), buffer, static_cast<mwSize>(size));
}
void mxFree(void *block) { ::mxFree(block); }
bool mxIsDouble(const Array *array) { return ::mxIsDouble(native(array)); }
bool mxIsSparse(const Array *array) { return ::mxIsSparse(native(array)); }

}  // namespace host
