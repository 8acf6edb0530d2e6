// Formats one console line of the module's and hands it to a host's printer
// as finished text, so that the host's own formatter never sees a conversion
// of ours. Shared by the Octave and the Windows host layers.
#ifndef VANDREL_HOST_HOST_LINE_H
#define VANDREL_HOST_HOST_LINE_H

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace host {

// `print` shows finished text; the result is its result.
template <typename Print>
int printFormatted(Print print, const char *format, va_list args) {
    char line[1024];
    va_list again;
    va_copy(again, args);
    int length = std::vsnprintf(line, sizeof line, format, args);
    int result = length;
    if (length >= 0 && static_cast<std::size_t>(length) < sizeof line) {
        result = print(line);
    } else if (length >= 0) {
        // A line longer than the stack buffer (a long waveform name), taken
        // from the C heap so that the host sees no allocation of the module's.
        char *longLine = static_cast<char *>(std::malloc(static_cast<std::size_t>(length) + 1));
        if (longLine != nullptr) {
            std::vsnprintf(longLine, static_cast<std::size_t>(length) + 1, format, again);
            result = print(longLine);
            std::free(longLine);
        } else {
            result = print(line);
        }
    }
    va_end(again);
    return result;
}

}  // namespace host

#endif
