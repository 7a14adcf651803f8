// The operations on an image, in the order a run applies them after -base: -range, -fill,
// -crc. Each checks what it is asked before it changes anything, and says what it did in the
// image's notes for -info.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "image/image.h"
#include "image/sum.h"

namespace zb {

// The addresses [lo, end).
struct span_of {
    std::uint64_t lo = 0, end = 0;
};

enum class op_fault {
    none,
    range_empty,         // nothing of the image lies in -range
    crc_empty,           // the covered range holds no address (the field at the lowest one)
    crc_below,           // the field lies below the image and no -crcrange says what to cover
    crc_gap,             // an address of the covered range holds no data
    crc_overlap,         // the field lies inside the covered range
    crc_misaligned,      // stm32: covered start or length not a multiple of 4
    crc_past_4g,         // the field runs past 4 GiB
    raw_too_wide,        // -raw without -range over more than raw_max bytes, gaps among them
};

// A fault and the addresses its message names: a, b, c as the message table says.
struct op_error {
    op_fault f = op_fault::none;
    std::uint64_t a = 0, b = 0, c = 0;
    std::string name;  // a piece's name, for raw_too_wide
    std::size_t input = 0;  // the input it came from (origin::input)
};

std::string op_message(const op_error& e, std::string_view infile);

// What -range dropped, for its warning.
struct dropped {
    std::uint64_t bytes = 0;
    std::uint64_t first = 0;  // lowest address dropped
};

// Drops the data outside r (which must hold at least one address).
op_error apply_range(image& img, span_of r, dropped& out);

// Fills every address without data between the image's lowest and highest, or every one of
// r when given, with v.
void apply_fill(image& img, unsigned char v, std::optional<span_of> r);

struct crc_request {
    checksum_kind kind;
    std::string name;                 // the kind as -info shows it
    std::uint64_t at = 0;             // where the field goes
    std::optional<span_of> covered;   // -crcrange; none: from the lowest address up to at
};

// Computes the checksum over the covered range and stores it at the field, in place of any
// bytes there.
op_error apply_crc(image& img, const crc_request& req);

// The largest span -raw writes without -range.
inline constexpr std::uint64_t raw_max = 16u << 20;

// The span -raw writes: r, else the image's; raw_too_wide when that is past raw_max and has
// gaps, which -raw would write out as fill.
op_error raw_span(const image& img, std::optional<span_of> r, span_of& out);

}  // namespace zb
