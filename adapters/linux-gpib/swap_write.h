// The adapter's byte-swapped write: NI-488.2 drivers swap every byte pair
// of a write while option 20 is on, linux-gpib cannot, so the adapter swaps
// through a bounded buffer of its own and sends the result in pieces.
#ifndef VANDREL_ADAPTERS_LINUX_GPIB_SWAP_WRITE_H
#define VANDREL_ADAPTERS_LINUX_GPIB_SWAP_WRITE_H

namespace adapter {

// The status word bit that marks a failed call, as NI-488.2 and linux-gpib
// both lay it out.
enum { kStatusErr = 0x8000 };

// The buffer a swapped write goes through: at most this many bytes travel
// in one write of the library below.
enum { kSwapBufferBytes = 64 * 1024 };

// What one write of the library below left: its status word, its error code
// and the bytes it sent.
struct PieceResult {
    int status;
    int error;
    long count;
};

// Sends one piece; end says whether END goes with its last byte.
typedef PieceResult SendPiece(void *context, const unsigned char *bytes, long count, bool end);

// Sends count bytes of data with each byte pair swapped (an odd last byte
// goes as it is) in pieces of at most bufferBytes (rounded down to an even
// number, at least 2), copying each through buffer. END goes with the last
// piece only, and only when endEnabled; no bytes (count 0) make one empty
// piece. The pieces stop at the first that fails or sends less than it was
// given. The result carries the status and error of the last piece sent and
// the bytes sent by all of them.
PieceResult writeSwapped(const void *data, long count, bool endEnabled, unsigned char *buffer, long bufferBytes,
                         SendPiece *sendPiece, void *context);

// Copies count bytes with each pair swapped; an odd last byte is copied as it is.
void swapPairs(const unsigned char *from, long count, unsigned char *to);

}  // namespace adapter

#endif
