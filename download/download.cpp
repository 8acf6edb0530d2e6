// One download from banner to teardown, and its first stage: choosing and
// binding the bus library.
#include "download/download.h"

#include <cstring>
#include <string>

#include "host/host.h"
#include "gpib/ni488.h"

namespace {

const char kVersion[] = "2.0";

// The system directory followed by the separator and a file name; empty
// when the directory cannot be had. Built to whatever length it needs.
std::string systemPath(const char *fileName) {
    unsigned needed = platform::GetSystemDirectoryA(nullptr, 0);
    if (needed == 0) return std::string();
    std::string path(needed, '\0');
    unsigned length = platform::GetSystemDirectoryA(&path[0], needed);
    if (length == 0 || length >= needed) return std::string();
    path.resize(length);
    path += platform::kPathSeparator;
    path += fileName;
    return path;
}

}  // namespace

void selectBusLibrary(DownloadState *state) {
    std::string siclPath = systemPath(SICL_LIBRARY_NAME);
    std::string niPath = systemPath(NI488_LIBRARY_FILE);

    // The SICL library is bound from the system directory only: a search that
    // includes the working folder could run a planted copy inside the host.
    const char *missingEntry = nullptr;
    if (!siclPath.empty()) state->siclModule = platform::LoadLibraryA(siclPath.c_str());
    if (state->siclModule != nullptr) missingEntry = bindSiclEntryPoints(state->siclModule, &state->sicl);

    state->busKind = kBusNone;
    if (!siclPath.empty() && platform::fileIsPresent(siclPath.c_str())) state->busKind = kBusSicl;
    if (!niPath.empty() && platform::fileIsPresent(niPath.c_str())) state->busKind = kBusNi488;

    switch (state->busKind) {
    case kBusSicl:
        host::mexPrintf("Using Hewlett-Packard HP-IB Card.\n");
        // A SICL library that cannot be called must not be driven: no null
        // entry is ever called.
        if (state->siclModule == nullptr) {
            host::mexPrintf("The SICL library " SICL_LIBRARY_NAME " could not be loaded; it cannot be used.\n");
            state->busKind = kBusNone;
        } else if (missingEntry != nullptr) {
            host::mexPrintf("The SICL library " SICL_LIBRARY_NAME " lacks the entry %s; it cannot be used.\n",
                            missingEntry);
            state->busKind = kBusNone;
        }
        break;
    case kBusNi488:
        host::mexPrintf("Using National Instruments GPIB Card.\n");
        break;
    case kBusNone:
        host::mexPrintf("No GPIB Card driver found.\n");
        break;
    }
}

void closeInstrument(DownloadState *state) {
    if (state->busKind == kBusSicl) {
        state->sicl.ilocal(state->siclId);
        state->sicl.iclose(state->siclId);
    } else if (state->busKind == kBusNi488) {
        ni488::ibloc(state->niDevice);
        ni488::ibonl(state->niDevice, 0);
    }
}

void downloadWaveform(host::SampleView iq, int len, std::int16_t *samples, const char *name) {
    DownloadState state;
    std::memset(&state, 0, sizeof state);
    state.busKind = kBusNone;
    state.siclModule = nullptr;
    state.niDevice = -1;

    host::mexPrintf("\n");
    host::mexPrintf("KVR Waveform File Download Program Version %s\n", kVersion);

    // A part's byte count must fit the nine digits of the block header; a
    // longer waveform is refused before any library is touched.
    if (!waveformFits(len)) {
        host::mexPrintf("Waveform too long: %d points; one part holds at most %d points.\n", len, kMaxSamples);
        return;
    }

    selectBusLibrary(&state);
    findInterface(&state);
    state.address = -1;
    if (state.interfaceName[0] != '\0') findInstrument(&state);
    if (state.address >= 0) {
        if (len > 0)
            sendWaveform(&state, iq, len, samples, name);
        else
            closeInstrument(&state);  // nothing to send, but nothing left open
    }
    if (state.siclModule != nullptr) platform::FreeLibrary(state.siclModule);
}
