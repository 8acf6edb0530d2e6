// The module's only export: checks the two inputs, takes the waveform name and
// the sample buffer from the host, runs one download and gives both back.
#include <cstdint>
#include <cstring>

#include "download/download.h"
#include "gateway/gateway.h"
#include "host/host.h"

namespace {

// A double quote would end the quoted file name in the memory command and a
// control character would end the command itself; either would let the rest
// of the name reach the instrument as commands.
bool nameIsSafe(const char *name) {
    for (const unsigned char *c = reinterpret_cast<const unsigned char *>(name); *c != '\0'; ++c)
        if (*c == '"' || *c < 0x20 || *c == 0x7f) return false;
    return true;
}

}  // namespace

void mexFunction(int, host::Array *[], int inputCount, const host::Array *inputs[]) {
    // Every refusal is raised before anything is allocated, or after it has
    // been given back: the host's error call does not return.
    if (inputCount < 2) host::mexErrMsgTxt("Usage: vandrel(complex data, 'filename')");
    const host::Array *data = inputs[0];
    const host::Array *nameArray = inputs[1];
    if (!host::mxIsDouble(data) || host::mxIsSparse(data))
        host::mexErrMsgTxt("Complex data for vandrel must be a full (not sparse) double array.");

    int rows = host::mxGetM(data);
    int columns = host::mxGetN(data);
    if (rows != 1 && columns != 1) {
        host::mexPrintf("Number of Rows = %d \n", rows);
        host::mexPrintf("Number of Columns = %d \n", columns);
        host::mexErrMsgTxt("Input data must be a vector, not an array.");
    }
    // A 1-by-0 or 0-by-1 vector holds nothing to send.
    int len = rows == 0 || columns == 0 ? 0 : (rows > columns ? rows : columns);
    // The values where the host keeps them, not copied.
    host::SampleView iq = host::viewSamples(data);

    long long nameSize = static_cast<long long>(host::mxGetM(nameArray)) * host::mxGetN(nameArray) + 1;
    if (nameSize > 0x7fffffff) nameSize = 0x7fffffff;
    char *name = static_cast<char *>(host::mxCalloc(static_cast<std::size_t>(nameSize), 1));
    // Text that holds a NUL copies in whole but reads as cut at it: the
    // waveform would be stored under a shorter name than the one given.
    bool copied = host::mxGetString(nameArray, name, static_cast<int>(nameSize)) == 0;
    bool cut = copied && static_cast<long long>(std::strlen(name)) + 1 < nameSize;
    if (cut || !nameIsSafe(name)) {
        host::mxFree(name);
        host::mexErrMsgTxt("The waveform name for vandrel must not hold a double quote or a control character.");
    }

    host::mexPrintf("Save to Waveform: %s \n", name);
    host::mexPrintf("Waveform Length = %d points.\n", len);

    // A waveform too long for one block is refused by the download; it gets
    // no buffer it could never fill.
    std::int16_t *samples =
        waveformFits(len) ? static_cast<std::int16_t *>(host::mxCalloc(static_cast<std::size_t>(len), 2)) : nullptr;
    downloadWaveform(iq, len, samples, name);
    if (samples != nullptr) host::mxFree(samples);
    host::mxFree(name);
}
