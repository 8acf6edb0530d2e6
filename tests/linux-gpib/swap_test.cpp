// The adapter's swapped write over piece boundaries: what reaches the bus is
// the block an NI-488.2 driver sends with option 20 on (every pair swapped,
// an odd last byte as it is), END comes with the last byte only and only
// when enabled, and the status and count tell the truth when a piece fails.
#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string>
#include <vector>

#include "adapters/linux-gpib/swap_write.h"

namespace {

const int kStatusCmpl = 0x0100;
const int kErrorEABO = 6;

// What a row's library does with the pieces: all are taken, except that
// piece `failAt` sends `failCount` bytes and fails (or, with `failSilently`,
// sends that many without the error bit).
struct Row {
    const char *what;
    long count;
    long bufferBytes;
    bool end;
    std::vector<long> pieces;  // the sizes of the pieces the library is given
    int failAt;
    long failCount;
    bool failSilently;
};

struct Library {
    const Row *row;
    std::vector<std::vector<unsigned char>> pieces;
    std::vector<bool> ends;
};

adapter::PieceResult takePiece(void *context, const unsigned char *bytes, long count, bool end) {
    Library &library = *static_cast<Library *>(context);
    int index = static_cast<int>(library.pieces.size());
    library.pieces.emplace_back(bytes, bytes + count);
    library.ends.push_back(end);
    if (index == library.row->failAt) {
        if (library.row->failSilently) return adapter::PieceResult{kStatusCmpl, 0, library.row->failCount};
        return adapter::PieceResult{adapter::kStatusErr | kStatusCmpl, kErrorEABO, library.row->failCount};
    }
    return adapter::PieceResult{kStatusCmpl, 0, count};
}

// The block as NI-488.2 sends it with byte swapping on.
std::vector<unsigned char> niSwapped(const std::vector<unsigned char> &data) {
    std::vector<unsigned char> swapped(data);
    for (std::size_t i = 0; i + 1 < swapped.size(); i += 2) std::swap(swapped[i], swapped[i + 1]);
    return swapped;
}

std::vector<unsigned char> pattern(long count) {
    std::vector<unsigned char> data(static_cast<std::size_t>(count));
    for (long i = 0; i < count; ++i) data[static_cast<std::size_t>(i)] = static_cast<unsigned char>(i * 7 + i / 251);
    return data;
}

const long k64k = adapter::kSwapBufferBytes;
const int kNone = -1;

const Row kRows[] = {
    {"no bytes, END on: one empty piece with END", 0, 8, true, {0}, kNone, 0, false},
    {"no bytes, END off", 0, 8, false, {0}, kNone, 0, false},
    {"one byte goes as it is, END on", 1, 8, true, {1}, kNone, 0, false},
    {"one byte, END off", 1, 8, false, {1}, kNone, 0, false},
    {"one pair", 2, 8, true, {2}, kNone, 0, false},
    {"even count within one piece", 6, 8, true, {6}, kNone, 0, false},
    {"even count filling the buffer exactly", 8, 8, true, {8}, kNone, 0, false},
    {"even count over two full pieces", 16, 8, true, {8, 8}, kNone, 0, false},
    {"even count, the last piece short", 12, 8, true, {8, 4}, kNone, 0, false},
    {"even count over pieces, END off", 12, 8, false, {8, 4}, kNone, 0, false},
    {"odd count, the last piece odd", 13, 8, true, {8, 5}, kNone, 0, false},
    {"odd count, one byte past the buffer", 9, 8, true, {8, 1}, kNone, 0, false},
    {"odd count over pieces, END off", 17, 8, false, {8, 8, 1}, kNone, 0, false},
    {"an odd buffer size gives even pieces: no pair is split", 10, 7, true, {6, 4}, kNone, 0, false},
    {"an odd buffer size, odd count", 11, 7, true, {6, 5}, kNone, 0, false},
    {"a one-byte buffer is taken as two", 5, 1, true, {2, 2, 1}, kNone, 0, false},
    {"the adapter's buffer, one byte short of it", k64k - 1, k64k, true, {k64k - 1}, kNone, 0, false},
    {"the adapter's buffer, exactly", k64k, k64k, true, {k64k}, kNone, 0, false},
    {"the adapter's buffer, two bytes over", k64k + 2, k64k, true, {k64k, 2}, kNone, 0, false},
    {"a 70000-point part over three pieces, END on", 140000, k64k, true, {k64k, k64k, 8928}, kNone, 0, false},
    {"a 70000-point part over three pieces, END off", 140000, k64k, false, {k64k, k64k, 8928}, kNone, 0, false},
    // Failures: nothing after the failed piece; the count is what went out.
    {"the first piece fails", 20, 8, true, {8}, 0, 0, false},
    {"the second piece fails having sent nothing", 20, 8, true, {8, 8}, 1, 0, false},
    {"the second piece fails having sent three bytes", 20, 8, true, {8, 8}, 1, 3, false},
    {"the last piece fails: END was asked for but the count says what left", 20, 8, true, {8, 8, 4}, 2, 1, false},
    {"a piece sending less without an error ends the write", 20, 8, true, {8}, 0, 5, true},
    {"a piece of the 64 KiB buffer fails midway", 140000, k64k, true, {k64k, k64k}, 1, 4000, false},
};

// gtest names the row by its text.
void PrintTo(const Row &row, std::ostream *out) { *out << row.what; }

class SwapTable : public ::testing::TestWithParam<Row> {};

TEST_P(SwapTable, SendsTheNiBlockInPieces) {
    const Row &row = GetParam();
    const std::vector<unsigned char> data = pattern(row.count);
    const std::vector<unsigned char> original = data;
    std::vector<unsigned char> buffer(static_cast<std::size_t>(row.bufferBytes < 2 ? 2 : row.bufferBytes) + 1, 0xee);
    const unsigned char guard = buffer.back();
    Library library{&row, {}, {}};

    adapter::PieceResult result = adapter::writeSwapped(data.data(), row.count, row.end, buffer.data(),
                                                        row.bufferBytes, takePiece, &library);

    EXPECT_EQ(data, original) << "the caller's data is left alone";
    EXPECT_EQ(buffer.back(), guard) << "the buffer is not written past its size";
    std::vector<long> sizes;
    for (const std::vector<unsigned char> &piece : library.pieces) sizes.push_back(static_cast<long>(piece.size()));
    EXPECT_EQ(sizes, row.pieces);

    // END: with the piece that ends the write, and only when enabled; a
    // write broken off before its end never carries it.
    long offset = 0;
    for (std::size_t i = 0; i < library.ends.size(); ++i) {
        offset += sizes[i];
        EXPECT_EQ(library.ends[i], row.end && offset == row.count) << "piece " << i;
    }

    // What reached the bus is the NI block, or its first bytes.
    std::vector<unsigned char> sent;
    for (std::size_t i = 0; i < library.pieces.size(); ++i) {
        const std::vector<unsigned char> &piece = library.pieces[i];
        long taken = static_cast<int>(i) == row.failAt ? row.failCount : static_cast<long>(piece.size());
        sent.insert(sent.end(), piece.begin(), piece.begin() + taken);
    }
    std::vector<unsigned char> expected = niSwapped(data);
    ASSERT_LE(sent.size(), expected.size());
    expected.resize(sent.size());
    EXPECT_EQ(sent, expected);
    bool whole = row.failAt == kNone;
    if (whole) {
        EXPECT_EQ(static_cast<long>(sent.size()), row.count);
    }

    EXPECT_EQ(result.count, static_cast<long>(sent.size())) << "the count is every byte that went out";
    bool failed = whole ? false : !row.failSilently;
    EXPECT_EQ((result.status & adapter::kStatusErr) != 0, failed);
    EXPECT_EQ(result.error, failed ? kErrorEABO : 0);
}

std::string rowName(const ::testing::TestParamInfo<Row> &info) {
    std::string name = std::to_string(info.index) + "_";
    for (const char *c = info.param.what; *c != '\0'; ++c)
        name += (std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_');
    return name;
}

INSTANTIATE_TEST_SUITE_P(Rows, SwapTable, ::testing::ValuesIn(kRows), rowName);

// The copy on its own, against the NI block, for every length up to a few
// hundred bytes: the wide and the narrow vector groups, the word-by-word
// rest and the odd tail, each alone and after the others.
TEST(SwapPairs, EveryShortLength) {
    for (long count = 0; count <= 400; ++count) {
        std::vector<unsigned char> data = pattern(count);
        std::vector<unsigned char> out(static_cast<std::size_t>(count) + 1, 0xee);
        adapter::swapPairs(data.data(), count, out.data());
        EXPECT_EQ(out.back(), 0xee) << count;
        out.pop_back();
        EXPECT_EQ(out, niSwapped(data)) << count;
    }
}

}  // namespace
