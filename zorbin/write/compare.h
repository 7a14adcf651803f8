// The report of -cmp: where the run's image and the file compared with it differ.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "image/diff.h"

namespace zb {

// At most this many ranges are told, then how many more there are.
inline constexpr std::size_t cmp_ranges = 20;

struct compare_input {
    std::string_view a, b;  // the input as the command line names it, the file of -cmp
    const image_diff& diff;
    std::optional<std::uint64_t> a_entry, b_entry;
    // For each of diff.ranges, where it lies: "in .rodata, in crc_table+0x34", or empty.
    std::span<const std::string> where;
};

// A line that names both files, then one line per range, first address first:
//   0x08001234 in .rodata, in crc_table+0x34: 2 bytes differ, 12 34 in a.elf, 12 35 in b.hex
//   0x08004000: 512 bytes only in a.elf
// (at most diff_shown bytes of each, "..." after them when the range is longer), the count of
// the ranges not told, and the entry points if they differ; lines ended by "\n".
std::string compare_report(const compare_input& in);

}  // namespace zb
