// Where two images differ: the bytes at the same address that are not the same, the bytes
// one image holds and the other does not, and the entry points.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "image/image.h"

namespace zb {

enum class diff_kind {
    bytes,   // both hold the addresses, with other bytes
    only_a,  // the first image holds them, the second does not
    only_b,  // the other way round
};

// How many bytes of a range of differing bytes are kept, from each image.
inline constexpr std::size_t diff_shown = 8;

// A run of consecutive addresses of one kind, as long as it goes on: a range of differing
// bytes ends at the first byte that is the same, or where either image ends.
struct diff_range {
    diff_kind kind = diff_kind::bytes;
    std::uint64_t addr = 0, size = 0;
    std::array<unsigned char, diff_shown> a{}, b{};  // bytes: the first ones of each image
    std::size_t shown = 0;                           // how many of them
};

struct image_diff {
    std::vector<diff_range> ranges;  // the first of them in address order, at most the asked
    std::uint64_t more = 0;          // how many ranges follow those
    std::uint64_t differ = 0, only_a = 0, only_b = 0;  // bytes of each kind, in all ranges
    bool entry_differs = false;      // none and an address differ too
    bool same() const { return ranges.empty() && more == 0 && !entry_differs; }
};

// Compares a with b, keeping at most max_ranges ranges. Time grows with the bytes the two
// hold; equal runs are compared in large blocks.
image_diff diff_images(const image& a, const image& b, std::size_t max_ranges);

}  // namespace zb
