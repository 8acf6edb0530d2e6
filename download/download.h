// One download of an I/Q waveform into the KVR-D dual arb: choose the bus
// library, find the interface, find the instrument, send both parts.
#ifndef VANDREL_DOWNLOAD_DOWNLOAD_H
#define VANDREL_DOWNLOAD_DOWNLOAD_H

#include <cstdint>

#include "gpib/sicl.h"
#include "host/host.h"
#include "platform/platform.h"

enum BusKind { kBusNone = 0, kBusSicl = 1, kBusNi488 = 2 };

enum {
    kReplySize = 120,
    kTextSize = 80,
    kInterfaceNameSize = 12,
    kNumberTextSize = 8,
};

// The most samples one part can hold: the block header gives the byte count
// (two bytes a sample) in at most nine digits.
const long long kMaxBlockBytes = 999999999;
const int kMaxSamples = static_cast<int>(kMaxBlockBytes / 2);

struct DownloadState {
    BusKind busKind;
    platform::ModuleHandle siclModule;
    SiclEntryPoints sicl;
    char interfaceName[kInterfaceNameSize];
    int address;
    int siclId;
    int niDevice;
    char reply[kReplySize];
    char text[kTextSize];
    char numberText[kNumberTextSize];
};

// Runs one complete download of the len points of iq (the real part to the
// I memory, the imaginary part, or zeros for a real input, to the Q memory).
void downloadWaveform(host::SampleView iq, int len, std::int16_t *samples, const char *name);

// The four stages, in the order the download runs them.
void selectBusLibrary(DownloadState *state);
void findInterface(DownloadState *state);
void findInstrument(DownloadState *state);
void sendWaveform(DownloadState *state, host::SampleView iq, int len, std::int16_t *samples, const char *name);

// Returns the instrument that discovery left open to local control and
// releases its connection.
void closeInstrument(DownloadState *state);

// Fills samples with the 16-bit conversion of the len values at values[0],
// values[stride], values[2 * stride] ... (zeros when values is null):
// truncation toward zero, keeping the low 16 bits; NaN, infinities and
// magnitudes of 2^63 and more give 0. Reads nothing but those values and,
// with stride 2, the doubles between them: nothing past the last value.
void convertSamples(const double *values, int stride, int len, std::int16_t *samples);

// Whether a waveform of len points fits in one definite-length block.
inline bool waveformFits(int len) { return len >= 0 && len <= kMaxSamples; }

#endif
