// The adapter's byte-swapped write, in pieces through a bounded buffer.
#include "adapters/linux-gpib/swap_write.h"

#include <cstdint>
#include <cstring>

namespace adapter {

void swapPairs(const unsigned char *from, long count, unsigned char *to) {
    if (count <= 0) return;
    long pairs = count / 2;
    // Whole 16-bit words byte-reversed: the compiler turns the loop into
    // vector shuffles.
    for (long i = 0; i < pairs; ++i) {
        std::uint16_t word;
        std::memcpy(&word, from + 2 * i, sizeof word);
        word = static_cast<std::uint16_t>((word >> 8) | (word << 8));
        std::memcpy(to + 2 * i, &word, sizeof word);
    }
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
