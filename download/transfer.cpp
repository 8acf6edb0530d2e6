// Waveform transfer: the timeout sized from the length, both parts converted
// to 16-bit samples and written to the I and Q memories, then the close.
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
// AVX2 is used only where the compiler can build it for one function and
// the processor is asked at run time: GCC or Clang on 64-bit x86 outside
// Windows (whose 64-bit stack is not realigned for it).
#if defined(__GNUC__) && defined(__x86_64__) && !defined(_WIN32)
#define VANDREL_CONVERT_AVX2
#include <immintrin.h>
#endif

#include "download/download.h"
#include "host/host.h"
#include "gpib/ni488.h"

namespace {

const long long kMicrosecondsPerPoint = 240;
const long long kMinimumTimeoutSeconds = 3;
// The NI-488.2 codes the transfer may use: the shortest whose time covers
// the estimate, the last when none does.
const int kNi488FirstTransferCode = 12;
const int kNi488LastTransferCode = 17;

struct MemoryPart {
    const char *prefix;      // the instrument's memory
    const char *siclFormat;  // the memory command as SICL formats it
    const char *loading;
    const char *failed;
};
const MemoryPart kRealPart = {"arbi:", "mmem:data \"arbi:%s\",",
                              "Loading the real part of the data to the dual arb.\n",
                              "Writing the real part to the dual arb failed.\n"};
const MemoryPart kImaginaryPart = {"arbq:", "mmem:data \"arbq:%s\",",
                                   "Loading the imaginary part of the data to the dual arb.\n",
                                   "Writing the imaginary part to the dual arb failed.\n"};

std::int16_t convertOne(double value) {
    if (!(std::fabs(value) < 0x1p63)) return 0;  // NaN, infinities and beyond 64 bits
    unsigned long long wide = static_cast<unsigned long long>(static_cast<long long>(value));
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(wide));
}

// The conversion runs in groups on x86: two doubles per instruction with the
// SSE2 baseline, and four with AVX2 where the processor has it (chosen when
// the conversion runs, so the module keeps the baseline flags). In both,
// the truncating conversion to 32-bit integers gives 0x80000000 for anything
// it cannot represent (NaN, infinities, magnitudes of 2^31 and more): a group
// showing that value is done again value by value. Each returns the values
// it did.
//
// With a stride of 2 (Octave's interleaved pairs) each load takes the wanted
// doubles with the ones between them, and a shuffle keeps the even ones. A
// group's last load then reaches the double after its last value, which the
// last point of an imaginary part does not have: the groups stop one point
// short of the end, and the tail does that point on its own.
template <int kStride>
int groupsEnd(int len, int group) {
    return kStride == 1 ? len - group : len - group - 1;
}

#if defined(__SSE2__)
// Two consecutive values, values[0] and values[kStride].
template <int kStride>
__m128d loadTwo(const double *values) {
    if (kStride == 1) return _mm_loadu_pd(values);
    return _mm_unpacklo_pd(_mm_loadu_pd(values), _mm_loadu_pd(values + 2));
}

template <int kStride>
int convertGroupsSse2(const double *values, int len, std::int16_t *samples) {
    const int kGroup = 8;
    const __m128i indefinite = _mm_set1_epi32(static_cast<int>(0x80000000u));
    const int last = groupsEnd<kStride>(len, kGroup);
    int i = 0;
    for (; i <= last; i += kGroup) {
        const double *at = values + static_cast<std::ptrdiff_t>(i) * kStride;
        __m128i low = _mm_unpacklo_epi64(_mm_cvttpd_epi32(loadTwo<kStride>(at)),
                                         _mm_cvttpd_epi32(loadTwo<kStride>(at + 2 * kStride)));
        __m128i high = _mm_unpacklo_epi64(_mm_cvttpd_epi32(loadTwo<kStride>(at + 4 * kStride)),
                                          _mm_cvttpd_epi32(loadTwo<kStride>(at + 6 * kStride)));
        __m128i unusable = _mm_or_si128(_mm_cmpeq_epi32(low, indefinite), _mm_cmpeq_epi32(high, indefinite));
        // The low 16 bits, sign-extended in place, pass the saturating pack
        // unchanged.
        low = _mm_srai_epi32(_mm_slli_epi32(low, 16), 16);
        high = _mm_srai_epi32(_mm_slli_epi32(high, 16), 16);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(samples + i), _mm_packs_epi32(low, high));
        if (_mm_movemask_epi8(unusable) != 0)
            for (int j = 0; j < kGroup; ++j) samples[i + j] = convertOne(at[j * kStride]);
    }
    return i;
}
#endif

#if defined(VANDREL_CONVERT_AVX2)
// Four consecutive values. With a stride of 2 the in-lane shuffle leaves
// them in the order 0, 2, 1, 3, which the caller puts right after the pack.
template <int kStride>
__attribute__((target("avx2"))) __m256d loadFour(const double *values) {
    if (kStride == 1) return _mm256_loadu_pd(values);
    return _mm256_unpacklo_pd(_mm256_loadu_pd(values), _mm256_loadu_pd(values + 4));
}

template <int kStride>
__attribute__((target("avx2"))) int convertGroupsAvx2(const double *values, int len, std::int16_t *samples) {
    const int kGroup = 16;
    const __m256i indefinite = _mm256_set1_epi32(static_cast<int>(0x80000000u));
    // Within each 64-bit quarter, the 16-bit samples 0, 2, 1, 3 back to 0, 1, 2, 3.
    const __m256i quarterOrder = _mm256_setr_epi8(0, 1, 4, 5, 2, 3, 6, 7, 8, 9, 12, 13, 10, 11, 14, 15,
                                                  0, 1, 4, 5, 2, 3, 6, 7, 8, 9, 12, 13, 10, 11, 14, 15);
    const int last = groupsEnd<kStride>(len, kGroup);
    int i = 0;
    for (; i <= last; i += kGroup) {
        const double *at = values + static_cast<std::ptrdiff_t>(i) * kStride;
        __m256i low = _mm256_set_m128i(_mm256_cvttpd_epi32(loadFour<kStride>(at + 4 * kStride)),
                                       _mm256_cvttpd_epi32(loadFour<kStride>(at)));
        __m256i high = _mm256_set_m128i(_mm256_cvttpd_epi32(loadFour<kStride>(at + 12 * kStride)),
                                        _mm256_cvttpd_epi32(loadFour<kStride>(at + 8 * kStride)));
        __m256i unusable = _mm256_or_si256(_mm256_cmpeq_epi32(low, indefinite), _mm256_cmpeq_epi32(high, indefinite));
        low = _mm256_srai_epi32(_mm256_slli_epi32(low, 16), 16);
        high = _mm256_srai_epi32(_mm256_slli_epi32(high, 16), 16);
        // The pack works within each 128-bit half; the permute puts the four
        // 64-bit quarters back in order.
        __m256i packed = _mm256_permute4x64_epi64(_mm256_packs_epi32(low, high), 0xd8);
        if (kStride != 1) packed = _mm256_shuffle_epi8(packed, quarterOrder);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(samples + i), packed);
        if (!_mm256_testz_si256(unusable, unusable))
            for (int j = 0; j < kGroup; ++j) samples[i + j] = convertOne(at[j * kStride]);
    }
    return i;
}
#endif

template <int kStride>
int convertGroups(const double *values, int len, std::int16_t *samples) {
    int i = 0;
#if defined(VANDREL_CONVERT_AVX2)
    if (__builtin_cpu_supports("avx2")) i = convertGroupsAvx2<kStride>(values, len, samples);
#endif
#if defined(__SSE2__)
    i += convertGroupsSse2<kStride>(values + static_cast<std::ptrdiff_t>(i) * kStride, len - i, samples + i);
#else
    // Blocks whose values all lie within 32 bits convert with the
    // language's own truncating conversion; a block holding anything else
    // is done again value by value. Only the values themselves are read.
    const int kBlock = 16;
    for (; i + kBlock <= len; i += kBlock) {
        const double *at = values + static_cast<std::ptrdiff_t>(i) * kStride;
        int outOfRange = 0;
        for (int j = 0; j < kBlock; ++j) {
            double value = at[j * kStride];
            bool inRange = std::fabs(value) < 2147483648.0;
            outOfRange |= !inRange;
            samples[i + j] =
                static_cast<std::int16_t>(static_cast<std::uint16_t>(static_cast<int>(inRange ? value : 0.0)));
        }
        if (outOfRange)
            for (int j = 0; j < kBlock; ++j) samples[i + j] = convertOne(at[j * kStride]);
    }
#endif
    return i;
}

// Sets the transfer timeout and returns the seconds to report.
long long setTransferTimeout(DownloadState *state, int len) {
    long long seconds = static_cast<long long>(len) * kMicrosecondsPerPoint / 1000000;
    if (seconds < kMinimumTimeoutSeconds) seconds = kMinimumTimeoutSeconds;
    if (state->busKind == kBusSicl) {
        state->sicl.itimeout(state->siclId, static_cast<long>(seconds * 1000));
        return seconds;
    }
    int code = kNi488FirstTransferCode;
    while (code < kNi488LastTransferCode && kNi488TimeoutMicroseconds[code] / 1000000 < seconds) ++code;
    ni488::ibtmo(state->niDevice, code);
    return kNi488TimeoutMicroseconds[code] / 1000000;
}

int decimalDigits(long long value) {
    int digits = 1;
    while (value >= 10) {
        value /= 10;
        ++digits;
    }
    return digits;
}

// How one part went. A part broken off may have left some of its bytes in
// the instrument (a header without its block, a block cut short), which it
// would go on waiting for or parse as commands.
enum PartOutcome { kPartSent, kPartNotStarted, kPartBrokenOff };

// SICL's formatted write returns 0 when everything was formatted and sent,
// and an error number otherwise. A part whose command was lost is not
// stored, however well its block would go out, so nothing follows a failed
// write.
PartOutcome sendPartSicl(DownloadState *state, const MemoryPart &part, int len, const std::int16_t *samples,
                         const char *name) {
    if (state->sicl.iprintf(state->siclId, part.siclFormat, name) != 0) return kPartBrokenOff;
    if (state->sicl.iprintf(state->siclId, "%*wb\n", len, samples) != 0) return kPartBrokenOff;
    return kPartSent;
}

bool ni488Written(int status) { return (status & kNi488Err) == 0; }

// Each step runs only when every step before it went through: samples after
// a broken header would reach the instrument as program messages.
PartOutcome sendPartNi488(DownloadState *state, const MemoryPart &part, int len, const std::int16_t *samples,
                          const char *name) {
    const int device = state->niDevice;
    const long long byteCount = 2LL * len;
    // Without END control the header would end the message before its
    // block. Nothing of the part has gone out yet.
    if (!ni488Written(ni488::ibeot(device, 0))) return kPartNotStarted;
    // Built to the name's full length: a cut name would store the waveform
    // under another name. The command buffer serves the usual names; a
    // longer one gets a command of its own size.
    std::string longCommand;
    const char *command = state->text;
    int commandLength = std::snprintf(state->text, sizeof state->text, "mmem:data \"%s%s\", #", part.prefix, name);
    if (commandLength < 0 || static_cast<std::size_t>(commandLength) >= sizeof state->text) {
        longCommand = std::string("mmem:data \"") + part.prefix + name + "\", #";
        command = longCommand.c_str();
        commandLength = static_cast<int>(longCommand.size());
    }
    if (!ni488Written(ni488::ibwrt(device, command, commandLength))) return kPartBrokenOff;
    std::snprintf(state->text, sizeof state->text, "%d", decimalDigits(byteCount));
    if (!ni488Written(ni488::ibwrt(device, state->text, static_cast<long>(std::strlen(state->text)))))
        return kPartBrokenOff;
    std::snprintf(state->text, sizeof state->text, "%lld", byteCount);
    if (!ni488Written(ni488::ibwrt(device, state->text, static_cast<long>(std::strlen(state->text)))))
        return kPartBrokenOff;
    if (!ni488Written(ni488::ibeot(device, 1))) return kPartBrokenOff;
    // The driver swaps each byte pair, so the host's little-endian samples
    // leave most significant byte first. Samples it cannot swap would be
    // stored the wrong way round: they are not sent.
    if (!ni488Written(ni488::ibconfig(device, kNi488OptionSwapBytes, 1))) return kPartBrokenOff;
    bool samplesSent = ni488Written(ni488::ibwrt(device, samples, static_cast<long>(byteCount)));
    // Swapping is turned off even after a failed write; a driver that keeps
    // it on would send the next part's command text swapped.
    bool swapOff = ni488Written(ni488::ibconfig(device, kNi488OptionSwapBytes, 0));
    return samplesSent && swapOff ? kPartSent : kPartBrokenOff;
}

PartOutcome sendPart(DownloadState *state, const MemoryPart &part, const double *values, int stride, int len,
                     std::int16_t *samples, const char *name) {
    convertSamples(values, stride, len, samples);
    host::mexPrintf("%s", part.loading);
    PartOutcome outcome = state->busKind == kBusSicl ? sendPartSicl(state, part, len, samples, name)
                                                     : sendPartNi488(state, part, len, samples, name);
    if (outcome != kPartSent) host::mexPrintf("%s", part.failed);
    return outcome;
}

// A device clear makes the instrument drop its input buffer and any message
// it was in the middle of, so a broken-off part leaves nothing behind.
void clearInstrument(DownloadState *state) {
    if (state->busKind == kBusSicl)
        state->sicl.iclear(state->siclId);
    else if (state->busKind == kBusNi488)
        ni488::ibclr(state->niDevice);
}

}  // namespace

void convertSamples(const double *values, int stride, int len, std::int16_t *samples) {
    if (values == nullptr) {
        // A real waveform has no imaginary data: its Q part is all zeros.
        std::memset(samples, 0, static_cast<std::size_t>(len) * sizeof *samples);
        return;
    }
    // The hosts give strides of 1 and 2; any other is done value by value.
    int i = 0;
    if (stride == 1)
        i = convertGroups<1>(values, len, samples);
    else if (stride == 2)
        i = convertGroups<2>(values, len, samples);
    for (; i < len; ++i) samples[i] = convertOne(values[static_cast<std::ptrdiff_t>(i) * stride]);
}

void sendWaveform(DownloadState *state, host::SampleView iq, int len, std::int16_t *samples, const char *name) {
    host::mexPrintf("Timeout set to %d seconds.\n", static_cast<int>(setTransferTimeout(state, len)));
    PartOutcome outcome = sendPart(state, kRealPart, iq.re, iq.stride, len, samples, name);
    if (outcome == kPartSent) outcome = sendPart(state, kImaginaryPart, iq.im, iq.stride, len, samples, name);
    if (outcome == kPartBrokenOff) clearInstrument(state);
    closeInstrument(state);
    if (outcome == kPartSent) host::mexPrintf("Done loading the waveform into the KVR dual arb.\n");
}
