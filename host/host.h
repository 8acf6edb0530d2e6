// The host services the module uses, behind names of its own: the Octave
// build maps them onto Octave's MEX API, the Windows build onto the R11
// services imported from MATLAB, and unit tests link a fake host.
#ifndef VANDREL_HOST_HOST_H
#define VANDREL_HOST_HOST_H

#include <cstddef>

namespace host {

struct Array;  // the host's own array, never looked into by the module

// The nine services.
int mexPrintf(const char *format, ...) __attribute__((format(printf, 1, 2)));
// Shows text as an error and ends the current call: never returns.
[[noreturn]] void mexErrMsgTxt(const char *text);
int mxGetM(const Array *array);
int mxGetN(const Array *array);
const double *mxGetPr(const Array *array);
const double *mxGetPi(const Array *array);  // null when the array is real
void *mxCalloc(std::size_t count, std::size_t size);
int mxGetString(const Array *array, char *buffer, int size);
void mxFree(void *block);

// Class tests the gateway uses to refuse input it cannot read as samples.
bool mxIsDouble(const Array *array);
bool mxIsSparse(const Array *array);

}  // namespace host

#endif
