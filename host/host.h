// The host services the module uses, behind names of its own: the Octave
// build maps them onto Octave's MEX API, the Windows build onto the R11
// services imported from MATLAB, and unit tests link a fake host.
#ifndef VANDREL_HOST_HOST_H
#define VANDREL_HOST_HOST_H

#include <cstddef>

namespace host {

struct Array;  // the host's own array, never looked into by the module

// The values of a double array where the host keeps them: value k of the
// real part at re[k * stride], of the imaginary part at im[k * stride]; im
// is null when the array is real. The R11 host keeps the two parts apart
// (stride 1); Octave keeps complex values as interleaved pairs (stride 2,
// im one double after re) and a real array as one run (stride 1).
struct SampleView {
    const double *re;
    const double *im;
    int stride;
};

// The host services: printing, the error call, dimensions, the values of
// the first input (the R11 host's mxGetPr and mxGetPi), host memory and text.
int mexPrintf(const char *format, ...) __attribute__((format(printf, 1, 2)));
// Shows text as an error and ends the current call: never returns.
[[noreturn]] void mexErrMsgTxt(const char *text);
int mxGetM(const Array *array);
int mxGetN(const Array *array);
// The values of a full double array, read in place: no copy is made.
SampleView viewSamples(const Array *array);
void *mxCalloc(std::size_t count, std::size_t size);
int mxGetString(const Array *array, char *buffer, int size);
void mxFree(void *block);

// Class tests the gateway uses to refuse input it cannot read as samples.
bool mxIsDouble(const Array *array);
bool mxIsSparse(const Array *array);

}  // namespace host

#endif
