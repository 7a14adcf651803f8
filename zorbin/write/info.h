// The report of -info: what a conversion would write and why, in place of the records.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "image/image.h"

namespace zb {

struct input_named {
    std::string name, kind;
};

struct info_input {
    std::string_view name;               // the input file as the command line gives it
    std::string_view kind;               // "ELF32 little-endian", "plain binary", ...
    std::span<const block> blocks;       // after the operations
    std::span<const part> parts;         // in the order of the blocks' pieces
    std::optional<std::uint64_t> entry;  // what the end record would carry; none: no entry
    std::span<const std::string> notes;  // what the operations did
    std::span<const input_named> added;  // -add and -addbin, in order; each piece names its own
    std::span<const part> dropped{};     // pieces -range left out, in address order
};

// One line for the input, a table of the blocks, one of the pieces (each run of fill as one;
// the dropped ones among them by load address, marked so), then the notes; aligned in columns, lines ended by "\n" (the caller writes CR LF).
// Addresses have 8 hex digits, 16 where one of them passes 32 bits.
std::string info_report(const info_input& in);

}  // namespace zb
