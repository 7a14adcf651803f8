// Words and byte lanes of an image: the spans of whole words that cover it, its bytes read in
// address order with a fill byte between its blocks, and the two operations that rearrange
// its bytes for memories on a wider bus: -swap (the bytes of each word reversed) and -split
// (one byte lane kept). A run applies them after the checksums, -swap before -split, so that
// a CRC covers the image as the processor sees it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "image/image.h"
#include "image/ops.h"

namespace zb {

enum class lane_fault {
    none,
    width,       // -swap: a word width that is not 2, 4 or 8
    lanes,       // -split with no lane at all (N = 0)
    lane,        // -split: a lane K that is not below N
    lane_width,  // -split: lanes 0 bytes wide
    misaligned,  // a block that does not start and end on a whole word, and no fill
    too_high,    // a block that reaches the top of the address space, past any word
    lane_empty,  // no byte of the image lies in the lane
};

// A fault and the numbers its message names, as lane_message says.
struct lane_error {
    lane_fault f = lane_fault::none;
    std::uint64_t a = 0, b = 0, c = 0;
};

std::string lane_message(const lane_error& e, std::string_view infile);

// Addresses past this are refused by everything that rounds an address up to a word: one past
// the last byte, rounded up to 8 bytes, still fits in 64 bits.
inline constexpr std::uint64_t word_top = ~std::uint64_t{0} - 15;

// The spans of whole w-byte words (words at multiples of w) that hold the blocks' bytes,
// ascending, those that meet joined; empty blocks have none. Without fill, a block that does
// not start and end on a multiple of w is misaligned (a its base, b its end, c w).
lane_error word_spans(std::span<const block> blocks, unsigned w, bool fill,
                      std::vector<span_of>& out);

// The bytes of blocks (ascending, apart) in address order, fill where no block has one. Reads
// must come in ascending address order, which keeps each one a short walk from the last.
struct byte_reader {
    std::span<const block> blocks;
    unsigned char fill = 0;
    std::size_t b = 0, k = 0;  // the block and piece the last read ended in
    std::uint64_t at = 0;      // the address where piece k begins
    bool started = false;

    void read(std::uint64_t addr, std::size_t n, unsigned char* to);
};

// The arguments alone, as the command line gives them: -swap's word of 2, 4 or 8 bytes;
// -split's N lanes (at least 1), lane K below N, lanes W bytes wide (at least 1).
lane_error check_swap(unsigned w);
lane_error check_split(std::uint32_t n, std::uint32_t k, std::uint32_t w);

// How many bytes of lane k of n, w bytes wide, lie below address x: where the lane puts the
// byte at x when x lies in the lane, else the next byte of the lane after x.
std::uint64_t lane_below(std::uint64_t x, std::uint64_t n, std::uint64_t k, std::uint64_t w);

// -swap w: a new image whose every w-byte word has its bytes in reverse order. Blocks not in
// whole words are refused unless fill pads their ends, in parts of their own named "fill".
lane_error swap_words(const image& in, unsigned w, std::optional<unsigned char> fill,
                      image& out);

// -split n k w: a new image of lane k of n, w bytes wide: the bytes at a with
// (a div w) mod n = k, each at (a div (n*w))*w + a mod w. Every input part keeps its name.
lane_error split_lanes(const image& in, std::uint32_t n, std::uint32_t k, std::uint32_t w,
                       image& out);

}  // namespace zb
