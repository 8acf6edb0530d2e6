// The adapter's byte-swapped write, in pieces through a bounded buffer.
#include "adapters/linux-gpib/swap_write.h"

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
// AVX2 where the compiler can build it for one function and the processor
// has it, asked when the swap runs: GCC or Clang on 64-bit x86.
#if defined(__GNUC__) && defined(__x86_64__)
#define ADAPTER_SWAP_AVX2
#include <immintrin.h>
#endif

namespace adapter {

namespace {

// Pairs swapped one 16-bit word at a time.
void swapWords(const unsigned char *from, long pairs, unsigned char *to) {
    for (long i = 0; i < pairs; ++i) {
        std::uint16_t word;
        std::memcpy(&word, from + 2 * i, sizeof word);
        word = static_cast<std::uint16_t>((word >> 8) | (word << 8));
        std::memcpy(to + 2 * i, &word, sizeof word);
    }
}

#if defined(__SSE2__)
// Sixteen pairs at a time: each 16-bit lane shifted both ways and joined.
// Returns the pairs it did.
long swapWordsSse2(const unsigned char *from, long pairs, unsigned char *to) {
    const long kGroup = 32;  // pairs: two 16-byte vectors
    long i = 0;
    for (; i + kGroup <= pairs; i += kGroup) {
        __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(from + 2 * i));
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(from + 2 * i + 16));
        __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i *>(from + 2 * i + 32));
        __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i *>(from + 2 * i + 48));
        a = _mm_or_si128(_mm_slli_epi16(a, 8), _mm_srli_epi16(a, 8));
        b = _mm_or_si128(_mm_slli_epi16(b, 8), _mm_srli_epi16(b, 8));
        c = _mm_or_si128(_mm_slli_epi16(c, 8), _mm_srli_epi16(c, 8));
        d = _mm_or_si128(_mm_slli_epi16(d, 8), _mm_srli_epi16(d, 8));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(to + 2 * i), a);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(to + 2 * i + 16), b);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(to + 2 * i + 32), c);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(to + 2 * i + 48), d);
    }
    return i;
}
#endif

#if defined(ADAPTER_SWAP_AVX2)
// Sixty-four pairs at a time, as above with 32-byte vectors.
__attribute__((target("avx2"))) long swapWordsAvx2(const unsigned char *from, long pairs, unsigned char *to) {
    const long kGroup = 64;
    long i = 0;
    for (; i + kGroup <= pairs; i += kGroup) {
        __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(from + 2 * i));
        __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(from + 2 * i + 32));
        __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(from + 2 * i + 64));
        __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(from + 2 * i + 96));
        a = _mm256_or_si256(_mm256_slli_epi16(a, 8), _mm256_srli_epi16(a, 8));
        b = _mm256_or_si256(_mm256_slli_epi16(b, 8), _mm256_srli_epi16(b, 8));
        c = _mm256_or_si256(_mm256_slli_epi16(c, 8), _mm256_srli_epi16(c, 8));
        d = _mm256_or_si256(_mm256_slli_epi16(d, 8), _mm256_srli_epi16(d, 8));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(to + 2 * i), a);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(to + 2 * i + 32), b);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(to + 2 * i + 64), c);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(to + 2 * i + 96), d);
    }
    return i;
}
#endif

}  // namespace

void swapPairs(const unsigned char *from, long count, unsigned char *to) {
    if (count <= 0) return;
    long pairs = count / 2;
    long done = 0;
#if defined(ADAPTER_SWAP_AVX2)
    if (__builtin_cpu_supports("avx2")) done = swapWordsAvx2(from, pairs, to);
#endif
#if defined(__SSE2__)
    done += swapWordsSse2(from + 2 * done, pairs - done, to + 2 * done);
#endif
    swapWords(from + 2 * done, pairs - done, to + 2 * done);
    if (count % 2 != 0) to[count - 1] = from[count - 1];
}

PieceResult writeSwapped(const void *data, long count, bool endEnabled, unsigned char *buffer, long bufferBytes,
                         SendPiece *sendPiece, void *context) {
    // Pieces of an even size keep every pair inside one piece.
    long pieceBytes = bufferBytes - bufferBytes % 2;
    if (pieceBytes < 2) pieceBytes = 2;
    const unsigned char *bytes = static_cast<const unsigned char *>(data);
    if (count <= 0) return sendPiece(context, buffer, 0, endEnabled);
    PieceResult total = {0, 0, 0};
    long at = 0;
    while (at < count) {
        long size = count - at < pieceBytes ? count - at : pieceBytes;
        bool last = at + size == count;
        swapPairs(bytes + at, size, buffer);
        PieceResult piece = sendPiece(context, buffer, size, last && endEnabled);
        long sent = piece.count < 0 ? 0 : (piece.count > size ? size : piece.count);
        total.status = piece.status;
        total.error = piece.error;
        total.count += sent;
        at += size;
        if ((piece.status & kStatusErr) != 0 || sent < size) break;
    }
    return total;
}

}  // namespace adapter
