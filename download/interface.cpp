// Interface discovery: the first interface name the chosen library opens.
#include <cstdio>
#include <cstring>

#include "download/download.h"
#include "host/host.h"
#include "gpib/ni488.h"

namespace {

const int kSiclIndexCount = 32;   // hpib0..hpib31, gpib0..gpib31
const int kNi488BoardCount = 4;   // gpib0..gpib3

// Interface names are at most six characters, well within the buffer.
void keepName(DownloadState *state, const char *name) {
    std::size_t length = std::strlen(name);
    if (length >= sizeof state->interfaceName) length = sizeof state->interfaceName - 1;
    std::memcpy(state->interfaceName, name, length);
    state->interfaceName[length] = '\0';
}

// The name is kept only when it opens; whatever opened is closed again.
void trySicl(DownloadState *state, const char *name) {
    int id = state->sicl.iopen(name);
    if (id == 0) return;
    keepName(state, name);
    state->sicl.iclose(id);
}

void tryNi488(DownloadState *state, const char *name) {
    int board = ni488::ibfindA(name);
    if (board == -1) return;
    keepName(state, name);
    ni488::ibonl(board, 0);
}

// Tries prefix0, prefix1, ... up to count - 1, stopping at the first that opens.
void tryIndexed(DownloadState *state, const char *prefix, int count,
                void (*tryName)(DownloadState *, const char *)) {
    for (int index = 0; index < count && state->interfaceName[0] == '\0'; ++index) {
        std::snprintf(state->numberText, sizeof state->numberText, "%d", index);
        std::snprintf(state->text, sizeof state->text, "%s%s", prefix, state->numberText);
        tryName(state, state->text);
    }
}

}  // namespace

void findInterface(DownloadState *state) {
    state->interfaceName[0] = '\0';
    if (state->busKind == kBusSicl) {
        trySicl(state, "hpib");
        tryIndexed(state, "hpib", kSiclIndexCount, trySicl);
        if (state->interfaceName[0] == '\0') trySicl(state, "gpib");
        tryIndexed(state, "gpib", kSiclIndexCount, trySicl);
    } else if (state->busKind == kBusNi488) {
        tryIndexed(state, "gpib", kNi488BoardCount, tryNi488);
        // A driver that cannot be had finds no board either; say which it
        // is, so that the user does not go looking for a board.
        if (state->interfaceName[0] == '\0' && !ni488::driverIsLoaded())
            host::mexPrintf("The NI-488.2 driver " NI488_LIBRARY_NAME " could not be loaded or identified; it cannot be used.\n");
        else if (state->interfaceName[0] == '\0' && !ni488::driverHasEntry("ibfindA"))
            host::mexPrintf("The NI-488.2 driver " NI488_LIBRARY_NAME " lacks the entry ibfindA; it cannot be used.\n");
    }

    if (state->interfaceName[0] != '\0')
        host::mexPrintf("Interface = %s.\n", state->interfaceName);
    else
        host::mexPrintf("No GPIB configured Interface was found.\n");
}
