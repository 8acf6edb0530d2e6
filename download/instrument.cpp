// Instrument discovery: the bus walk with the identity query, stopping at the
// first reply that names a KVR-D.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "download/download.h"
#include "host/host.h"
#include "gpib/ni488.h"

namespace {

const char kIdentityQuery[] = "*IDN?";
const int kIdentityQueryLength = sizeof kIdentityQuery - 1;
// The family name and the model-number prefix; either one anywhere in the
// reply identifies the instrument.
const char *const kIdentityMarkers[] = {"KVR-D", "K207"};

// The NI-488.2 entries without which no probe can hear an answer.
const char *const kNi488ProbeEntries[] = {"ibdev", "ibwrt", "ibrd"};

const int kProbeCount = 32;
const int kFirstAddress = 19;
const int kLastAddress = 31;
const long kSiclProbeTimeoutMs = 20;
const int kNi488ProbeTimeoutCode = 8;  // 30 ms

// 19, 20, ... 31, then 1, 2, ... 19.
int probeAddress(int k) {
    int address = k + kFirstAddress;
    return address > kLastAddress ? address - kLastAddress : address;
}

// Looks for the markers in the bytes actually received: whatever else the
// library left in the buffer is not part of the reply.
bool replyMatches(const char *reply, unsigned long received) {
    if (received > kReplySize) received = kReplySize;
    for (const char *marker : kIdentityMarkers) {
        std::size_t markerLength = std::strlen(marker);
        for (std::size_t at = 0; at + markerLength <= received; ++at)
            if (std::memcmp(reply + at, marker, markerLength) == 0) return true;
    }
    return false;
}

void probeSicl(DownloadState *state, int address) {
    std::snprintf(state->numberText, sizeof state->numberText, "%d", address);
    std::snprintf(state->text, sizeof state->text, "%s,%s", state->interfaceName, state->numberText);
    int id = state->sicl.iopen(state->text);
    if (id == 0) return;  // 0 is never a session: nothing to talk to or close
    state->sicl.itimeout(id, kSiclProbeTimeoutMs);
    state->sicl.iclear(id);
    unsigned long count = 0;
    state->sicl.iwrite(id, kIdentityQuery, kIdentityQueryLength, 1, &count);
    std::memset(state->reply, 0, sizeof state->reply);
    int reason = 0;
    unsigned long received = 0;
    if (state->sicl.iread(id, state->reply, sizeof state->reply, &reason, &received) != 0) {
        // Nothing answered: no return to local, but the session is closed so
        // that repeated calls do not pile up sessions in the host.
        state->sicl.iclose(id);
        return;
    }
    if (replyMatches(state->reply, received)) {
        state->address = address;
        state->siclId = id;
        return;
    }
    state->sicl.ilocal(id);
    state->sicl.iclose(id);
}

void probeNi488(DownloadState *state, int address) {
    int board = std::atoi(state->interfaceName + 4);  // the index after "gpib"
    int device = ni488::ibdev(board, address, 0, kNi488ProbeTimeoutCode, 1, 0);
    ni488::ibclr(device);
    ni488::ibwrt(device, kIdentityQuery, kIdentityQueryLength);
    std::memset(state->reply, 0, sizeof state->reply);
    ni488::ibrd(device, state->reply, sizeof state->reply);
    unsigned long received = ni488::ibcntl > 0 ? static_cast<unsigned long>(ni488::ibcntl) : 0;
    if (replyMatches(state->reply, received)) {
        state->address = address;
        state->niDevice = device;
        return;
    }
    ni488::ibloc(device);
    ni488::ibonl(device, 0);
}

}  // namespace

void findInstrument(DownloadState *state) {
    state->address = -1;
    for (int k = 0; k < kProbeCount && state->address < 0; ++k) {
        if (state->busKind == kBusSicl)
            probeSicl(state, probeAddress(k));
        else if (state->busKind == kBusNi488)
            probeNi488(state, probeAddress(k));
    }
    if (state->address >= 0) {
        host::mexPrintf("KVR_addr = %d.\n", state->address);
        return;
    }
    // An instrument may well be there when the driver cannot ask it.
    if (state->busKind == kBusNi488) {
        for (const char *entry : kNi488ProbeEntries) {
            if (ni488::driverHasEntry(entry)) continue;
            host::mexPrintf("The NI-488.2 driver " NI488_LIBRARY_NAME " lacks the entry %s; it cannot be used.\n", entry);
            break;
        }
    }
    host::mexPrintf("No KVR-D found.\n");
}
